#include "state/integrity.h"

#include "base/unique_resource.h"

namespace korvane {
namespace {

bool volatile lowIntegrity = false;
bool volatile brokerProcess = false;

}  // namespace

bool ProcessIntegrityRid(DWORD* rid) noexcept {
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
    // TOKEN_MANDATORY_LABEL and a SID of one sub-authority fit easily; the
    // class is unknown before Vista, and the call fails there.
    alignas(8) BYTE buffer[64];
    DWORD size = 0;
    if (!GetTokenInformation(token.get(), TokenIntegrityLevel, buffer, sizeof buffer, &size))
        return false;
    PSID sid = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(buffer)->Label.Sid;
    if (!sid || !IsValidSid(sid)) return false;
    const UCHAR count = *GetSidSubAuthorityCount(sid);
    if (count == 0) return false;
    *rid = *GetSidSubAuthority(sid, count - 1);
    return true;
}

void DetermineIntegrity(bool ignoreSeam) noexcept {
    DWORD rid = 0;
    const bool known = ProcessIntegrityRid(&rid);
    bool low = IntegrityBelowMedium(known, rid);
    if (!low && !ignoreSeam) {
        char value[4] = {};
        const DWORD length = GetEnvironmentVariableA(kLowIntegrityVariable, value, sizeof value);
        low = length < sizeof value && SeamAsksForLowIntegrity(value);
    }
    lowIntegrity = low;
}

bool ActsAtLowIntegrity() noexcept { return lowIntegrity; }

void SetProcessIsBroker(bool broker) noexcept { brokerProcess = broker; }

bool ProcessIsBroker() noexcept { return brokerProcess; }

}  // namespace korvane
