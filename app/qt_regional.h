// The user's regional settings, read from Qt's view of the system locale,
// for the conversion run's value texts.
#pragma once

#include <QLocale>

#include "convert/regional.h"

namespace tp::app {

convert::RegionalSettings regionalSettingsFrom(const QLocale& locale);
// Installs the settings of QLocale::system() as the process-wide settings
// (call once at start-up).
void installSystemRegionalSettings();

}  // namespace tp::app
