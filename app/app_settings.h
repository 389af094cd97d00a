// The settings that stay from one session to the next: the port, speed,
// node and unit of the main window, its geometry, pages and splitter, the
// log's time column and filter, the trend window's choices and geometry,
// and the folders the file dialogs last used.
//
// They are read when the window is handed them (after the transport made
// its port and speed lists) and written back when it closes; a folder is
// written as soon as a dialog used it. A value that no longer fits (a port
// that is gone, a speed not in the list) is left out with one line in the
// window's log, and the window keeps its default.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

class QSettings;
class TForm1;
class TTrendWindow;

class AppSettings : public QObject {
    Q_OBJECT
public:
    enum class Store {
        // An INI file in the user's configuration folder, named after the
        // organisation (the application's name when none is set) and the
        // application.
        Platform,
        // Nothing read, nothing written (--no-settings).
        None,
    };

    // The newest AppSettings alive with a store is the one the file dialogs
    // take their folders from.
    explicit AppSettings(Store store, QObject* parent = nullptr);
    ~AppSettings() override;
    AppSettings(const AppSettings&) = delete;
    AppSettings& operator=(const AppSettings&) = delete;

    // Applies what the last session left to the window and writes it back
    // when the window closes.
    void Restore(TForm1& form);
    void Save(TForm1& form);
    // The same for the trend window, made when it is first opened; it is
    // written back when it or the main window closes.
    void RestoreTrend(TTrendWindow& trend);
    void SaveTrend(TTrendWindow& trend);

    // The folder a dialog of `key` last used; empty when none is kept.
    QString Folder(const QString& key) const;
    // Keeps the folder of `path` (a file, or a folder) for `key`.
    void SetFolder(const QString& key, const QString& path);

    static AppSettings* Current();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void RestoreConnection(TForm1& form);
    void RestoreLayout(TForm1& form);
    void Ignored(TForm1& form, const QString& what, const QString& value, const QString& instead);

    std::unique_ptr<QSettings> settings_;
    QPointer<TForm1> form_;
    const QObject* formObject_ = nullptr; // the same window, only to tell its events apart
    QPointer<QObject> treeSheet_;  // the object tree's page, until it is first shown
    bool treeShown_ = false;       // its splitter was placed this session
    QPointer<TTrendWindow> trend_; // the trend window once it was restored
};

// The keys of the file dialogs' folders.
inline constexpr char kRecordFolder[] = "record";
inline constexpr char kLogFolder[] = "log";
inline constexpr char kBackupFolder[] = "backup";
inline constexpr char kTrendFolder[] = "trend";
inline constexpr char kEdsFolder[] = "eds";

// The current settings' folder for `key`, empty when there is none.
QString LastFolder(const QString& key);
// `fileName` in the last folder of `key`; `fileName` as it is without one.
QString InLastFolder(const QString& key, const QString& fileName);
// Keeps the folder of `path` in the current settings, if any.
void RememberFolder(const QString& key, const QString& path);
