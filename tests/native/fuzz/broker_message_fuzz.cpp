// ParseBrokerMessage against the message format written out plainly, for
// any bytes: the broker reads whatever a browser process writes into its
// pipe. What is accepted must be made again byte for byte by
// FormatBrokerMessage. Input: one message's bytes.
#include <cstring>
#include <string>

#include "channel/channel_rules.h"
#include "fuzz_support.h"

using namespace korvane;

namespace {

// The format: version 1; kind 1 with an address of at most 2,083 bytes and
// no NUL, kinds 2 to 4 with nothing; the length field exactly the rest.
bool Expected(const uint8_t* data, size_t size) {
    if (size < 8) return false;
    const unsigned version = data[0] | (data[1] << 8);
    const unsigned kind = data[2] | (data[3] << 8);
    const unsigned long long length = static_cast<unsigned long long>(data[4]) | (data[5] << 8) |
                                      (data[6] << 16) | (static_cast<unsigned long long>(data[7]) << 24);
    if (version != 1 || length != size - 8) return false;
    if (kind >= 2 && kind <= 4) return length == 0;
    if (kind != 1 || length > 2083) return false;
    return std::memchr(data + 8, 0, size - 8) == nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    BrokerMessage message;
    const bool accepted = ParseBrokerMessage(data, size, &message);
    FUZZ_CHECK(accepted == Expected(data, size), "%zu bytes %s, accepted %d",
               size, fuzz::Show(std::string(reinterpret_cast<const char*>(data), size)).c_str(),
               accepted);
    if (!accepted) return 0;
    FUZZ_CHECK(message.addressLength <= kLongestBrokerAddress, "address of %zu bytes",
               message.addressLength);
    unsigned char again[kLongestBrokerMessage];
    const size_t made = FormatBrokerMessage(message.kind, message.address, message.addressLength,
                                            again, sizeof again);
    FUZZ_CHECK(made == size && std::memcmp(again, data, size) == 0,
               "kind %d of %zu bytes made again as %zu bytes", static_cast<int>(message.kind), size,
               made);
    return 0;
}
