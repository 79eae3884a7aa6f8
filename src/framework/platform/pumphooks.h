// The pump hooks every backend keeps for IPlatform::AddPumpHook.
#pragma once

#include "framework/platform/platform.h"

#include <functional>
#include <map>
#include <utility>
#include <vector>

// Hooks run in the order they were added. A hook may remove itself or another one while they
// run; one added meanwhile first runs in the next round.
class TPumpHooks {
  public:
    IPlatform::THookId Add(std::function<void()> hook) {
        const IPlatform::THookId id = fNext++;
        fHooks.emplace(id, std::move(hook));
        return id;
    }
    void Remove(IPlatform::THookId id) { fHooks.erase(id); }

    void Run() {
        std::vector<IPlatform::THookId> ids;
        ids.reserve(fHooks.size());
        for (const auto& entry : fHooks)
            ids.push_back(entry.first);
        for (IPlatform::THookId id : ids) {
            auto it = fHooks.find(id);
            if (it == fHooks.end()) continue;
            auto hook = it->second; // a copy: the hook may remove itself
            hook();
        }
    }

  private:
    std::map<IPlatform::THookId, std::function<void()>> fHooks;
    IPlatform::THookId fNext = 1;
};
