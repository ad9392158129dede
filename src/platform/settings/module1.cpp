#include "platform/settings/module1.h"

#include "platform/ui/looks.h"
#include "platform/settings/profile.h"

namespace {

// The start page's place in the settings file.
const QString kStartPageSection = kProgramName;
const QString kStartPageKey = QStringLiteral("DefaultURL");

}  // namespace

QString ReadIniString(const QString& section, const QString& key, const QString& file) {
    return Profile::readFile(file, section, key);
}

bool WriteIniString(const QString& section, const QString& key, const QString& value,
                    const QString& file) {
    return Profile::writeFile(file, section, key, value);
}

QString storedStartPage(const QString& settingsFile) {
    return ReadIniString(kStartPageSection, kStartPageKey, settingsFile);
}

bool storeStartPage(const QString& settingsFile, const QString& address) {
    return WriteIniString(kStartPageSection, kStartPageKey, address, settingsFile);
}
