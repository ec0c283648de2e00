#include "library_state.h"

#include "erase_worker.h"
#include "scorecore/score_log.h"

namespace discwriter {

LibraryState::LibraryState() = default;
LibraryState::~LibraryState() = default;

WriteOptions LibraryState::writeOptions() const {
    WriteOptions o;
    o.simulate = settings.simulate;
    o.burnProof = settings.burnProof;
    o.speedSectors = settings.writeSpeed;
    o.closeDisc = settings.closeDisc;
    o.verification = settings.verification;
    o.client = client;
    return o;
}

LibraryState& state() {
    static LibraryState instance;
    return instance;
}

void postToClient(platform::MessageId msg, platform::WParam wParam, platform::LParam lParam) {
    if (platform::MessageTarget* target = state().target.load()) target->post(msg, wParam, lParam);
}

HResult failWith(HResult hr, const std::string& text) {
    LibraryState& s = state();
    s.lastError = text;
    if (s.log != nullptr) s.log->writeLine("discwriter: " + text);
    return hr;
}

}  // namespace discwriter
