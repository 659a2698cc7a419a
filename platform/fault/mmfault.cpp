#include "mmfault.h"

#include <mutex>
#include <vector>

namespace mmfault {
namespace {
struct Armed {
    std::string function;
    uint32_t code;
    int skip;
    int times;
};
std::mutex lock;
std::vector<Armed> armed;
} // namespace

void Fail(const std::string& Function, uint32_t Code, int Skip, int Times)
{
    std::lock_guard guard(lock);
    armed.push_back({Function, Code, Skip, Times});
}

void Clear()
{
    std::lock_guard guard(lock);
    armed.clear();
}

uint32_t Check(const char* Function)
{
    std::lock_guard guard(lock);
    for (auto it = armed.begin(); it != armed.end(); ++it) {
        if (it->function != Function)
            continue;
        if (it->skip > 0) {
            --it->skip;
            return 0;
        }
        const uint32_t code = it->code;
        if (it->times > 0 && --it->times == 0)
            armed.erase(it);
        return code;
    }
    return 0;
}

} // namespace mmfault
