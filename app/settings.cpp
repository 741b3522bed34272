#include "app/settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <stdexcept>

#include "db/foxpro/codepage.h"

namespace tp::app {

namespace {
QString keyOf(const std::string& key) { return QString(kSettingsSection) + "/" + QString::fromStdString(key); }
}  // namespace

SettingsStore::SettingsStore()
    : s_(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, kSettingsApplication,
                                     kSettingsSection)) {
    if (QFileInfo::exists(s_->fileName())) secureFile();
}

SettingsStore::~SettingsStore() = default;

std::string SettingsStore::fileName() const { return s_->fileName().toStdString(); }

std::string SettingsStore::get(const std::string& key, const std::string& fallback) const {
    const QVariant v = s_->value(keyOf(key));
    if (!v.isValid()) return fallback;
    // A list (a value with commas written by another program) reads back
    // joined, as it was written.
    if (v.typeId() == QMetaType::QStringList) return v.toStringList().join(", ").toStdString();
    return v.toString().toStdString();
}

void SettingsStore::secureFile() const {
    const std::string f = fileName();
    struct stat st {};
    if (::stat(f.c_str(), &st) == 0 && (st.st_mode & 07777) != 0600) ::chmod(f.c_str(), 0600);
}

void SettingsStore::save(const std::string& key, const std::string& text) {
    const QString file = s_->fileName();
    if (!QFileInfo::exists(file)) {
        // Create the file private before the first value goes into it.
        QDir().mkpath(QFileInfo(file).absolutePath());
        const int fd = ::open(file.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) ::close(fd);
    }
    s_->setValue(keyOf(key), QString::fromStdString(text));
    s_->sync();
    if (s_->status() != QSettings::NoError)
        throw std::runtime_error("The settings could not be saved to " + fileName());
    secureFile();
}

namespace {
std::unique_ptr<SettingsStore>& storePtr() {
    static std::unique_ptr<SettingsStore> p;
    return p;
}
}  // namespace

SettingsStore& settings() {
    auto& p = storePtr();
    if (!p) p = std::make_unique<SettingsStore>();
    return *p;
}

void reopenSettings() { storePtr().reset(); }

db::CodePageChoice storedCodePage() {
    db::CodePageChoice c;
    const int n = QString::fromStdString(settings().get(kCodePageKey, "0")).toInt();
    if (!db::foxpro::isKnownCodePage(n)) return c;
    c.codePage = n;
    c.force = settings().get(kForceCodePageKey, "0") == "1";
    return c;
}

void storeCodePage(const db::CodePageChoice& choice) {
    settings().save(kCodePageKey, std::to_string(choice.codePage));
    settings().save(kForceCodePageKey, choice.force ? "1" : "0");
}

bool storedCreateKeys() { return settings().get(kCreateKeysKey, "1") != "0"; }

void storeCreateKeys(bool on) { settings().save(kCreateKeysKey, on ? "1" : "0"); }

bool storedAccessTypes() { return settings().get(kAccessTypesKey, "1") != "0"; }

void storeAccessTypes(bool on) { settings().save(kAccessTypesKey, on ? "1" : "0"); }

}  // namespace tp::app
