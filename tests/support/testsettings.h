// A settings store and the typed view over it, for tests that set printer
// entries or folders by name; the view looks the entries up in the store.
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

    void Set(std::string_view key, std::string_view value) { Store.SetValue(key, value); }
    // The store holds exactly these entries.
    TTestSettings& operator=(std::initializer_list<std::pair<std::string, std::string>> entries)
    {
        Store.Clear();
        for (const auto& [key, value] : entries)
            Store.SetValue(key, value);
        return *this;
    }
};
