// A settings store and the configuration made from it, for tests that set
// printer entries by name; each change makes the next configuration, as the
// server's editor does, keeping what the test set in it.
#pragma once

#include "config/serverconfig.h"

#include <initializer_list>
#include <string>
#include <utility>
#include <string_view>

struct TTestSettings {
    TSettings Store;
    TServerConfig Config = TServerConfig::Read(Store);

    TTestSettings() = default;
    TTestSettings(const TTestSettings&) = delete;
    TTestSettings& operator=(const TTestSettings&) = delete;

    void Set(std::string_view key, std::string_view value)
    {
        Store.SetValue(key, value);
        Config = Config.WithEntries(Store);
    }
    // The store holds exactly these entries.
    TTestSettings& operator=(std::initializer_list<std::pair<std::string, std::string>> entries)
    {
        Store.Clear();
        for (const auto& [key, value] : entries)
            Store.SetValue(key, value);
        Config = Config.WithEntries(Store);
        return *this;
    }
};
