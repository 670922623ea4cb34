// The one writer of printserver.inf's values: the start-up loads them, the
// Settings page, the Printers page and the tool change them here, and every
// change is handed on at once (the server makes its next configuration).
#pragma once

#include "config/settingsstore.h"
#include "util/result.h"

#include <functional>
#include <string>
#include <string_view>
#include <utility>

class TSettingsEditor {
public:
    TSettingsEditor() = default;
    TSettingsEditor(const TSettingsEditor&) = delete;
    TSettingsEditor& operator=(const TSettingsEditor&) = delete;

    // Called after each change of a value.
    void SetChangedHook(std::function<void()> hook) { FChanged = std::move(hook); }

    TOutcome Load(const std::string& path) { return FStore.LoadFromFile(path); }
    TOutcome Save(const std::string& path) const { return FStore.SaveToFile(path); }
    void Clear() { FStore.Clear(); }

    const TSettings& Store() const { return FStore; }
    std::string Value(std::string_view name) const { return FStore.Value(name); }
    int IndexOfName(std::string_view name) const { return FStore.IndexOfName(name); }

    // Replaces the first line of that name in place, or appends; an empty
    // value removes the line.
    void SetValue(std::string_view name, std::string_view value)
    {
        FStore.SetValue(name, value);
        if (FChanged)
            FChanged();
    }

private:
    TSettings FStore;
    std::function<void()> FChanged;
};
