// The printer table's lookup: a printer number made the current printer of
// the printing layer before a report or image is printed.
#pragma once

#include "config/serverconfig.h"
#include "platform/printing/printinglayer.h"

#include <string>
#include <string_view>

// Makes the printer of PRINTER<number> current and returns its name; a number
// without an entry, or a printer no longer installed, gives the system
// default printer. Empty when no printer could be selected (no scheduler, no
// default); the printer at the default's position is then current. When
// the default printer was taken for a number that was given, fellBack says
// why the number's own printer was not.
std::string SelectPrinterByNumber(std::string_view number, const TServerConfig& config, TPrintingLayer& printing,
                                  std::string* fellBack = nullptr);
