#pragma once

#include <QString>
#include <memory>
#include <stdexcept>

class QSettings;

namespace platform {

// A stored text that cannot be turned into the wanted type.
class ConversionError : public std::runtime_error
{
public:
    explicit ConversionError(const QString& message);
    QString message() const;
};

// Conversions of stored texts. Each throws ConversionError for text it cannot read and
// ignores surrounding spaces. toBool accepts "True"/"False" in any case and numbers
// (non-zero is true); toInt32 rounds a fraction half to even.
bool toBool(const QString& text);
int toInt32(const QString& text);
float toSingle(const QString& text);
QString boolText(bool value); // "True" / "False"

// Per-user settings: application "Tivane", sections and keys, text values.
class SettingsStore
{
public:
    // The user's store (INI in the user's configuration folder).
    SettingsStore();
    // A store kept in the given INI file (tests).
    explicit SettingsStore(const QString& iniPath);
    ~SettingsStore();

    // The stored text, or the default's decimal text when the key is absent.
    QString read(const QString& section, const QString& key, int defaultValue) const;
    QString read(const QString& section, const QString& key, const QString& defaultValue) const;
    void write(const QString& section, const QString& key, const QString& value);
    bool contains(const QString& section, const QString& key) const;
    void remove(const QString& section, const QString& key);
    // A file of its own beside the settings file, for a value too large to keep in it.
    QString besidePath(const QString& name) const;
    // Its bytes; empty when it is absent, unreadable or larger than maxBytes (not ours).
    QByteArray readBeside(const QString& name, qint64 maxBytes) const;
    // Replaces it at once, never leaving it cut off (a full disk keeps the old one); false, and
    // the reason in errorString(), when it could not be written.
    bool writeBeside(const QString& name, const QByteArray& bytes);
    // Flush to disk; returns false when the file, or a file beside it written since the last
    // sync, could not be written.
    bool sync();
    // Why the latest sync failed, in plain words ("No space left on device").
    QString errorString() const { return m_error; }
    QString fileName() const;

private:
    std::unique_ptr<QSettings> m_settings;
    QString m_error;
    QString m_besideError;
};

} // namespace platform
