#include "UeiCodec.h"

namespace virtualmodule {

std::optional<UeiRequest> parseUeiRequest(const std::vector<uint8_t>& payload) {
  if (payload.size() < 3 || (payload[2] & kRequestMarker) == 0) return std::nullopt;
  UeiRequest request;
  request.command = payload[0];
  request.option = payload[1] & 0x3F;
  request.read = (payload[1] & kReadBit) != 0;
  request.write = (payload[1] & kWriteBit) != 0;
  request.index = payload[2] & 0x1F;
  request.rest.assign(payload.begin() + 3, payload.end());
  return request;
}

Packet ueiValueReply(uint8_t address, const UeiRequest& request, uint32_t value, unsigned width) {
  Packet reply{address, {request.command, request.replyOption(), request.index}};
  appendBigEndian(reply.payload, value, width);
  return reply;
}

Packet ueiErrorReply(uint8_t address, const UeiRequest& request, ErrorCode error) {
  return Packet{address, {request.command, request.replyOption(), uint8_t(request.index | kErrorBit), code(error)}};
}

}  // namespace virtualmodule
