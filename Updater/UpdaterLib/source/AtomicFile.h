#pragma once

#include <cstddef>
#include <string>

// Replaces a file as a whole: the bytes go to a temporary file in the same directory, which
// is flushed to disk and then renamed over the target, so a crash or a full disk leaves
// either the old content or the new one, never a truncated file.
enum class AtomicWriteResult { Written, OpenFailed, WriteFailed };

// `errorNumber` (when given) receives the system error of a failure.
AtomicWriteResult WriteFileAtomically(const std::string& path, const void* data, size_t length,
                                      int* errorNumber = nullptr);
