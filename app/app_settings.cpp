#include "app_settings.h"

#include "data_page.h"
#include "log_toolbar.h"
#include "log_view.h"
#include "monitor.h"
#include "trend_window.h"

#include "EDS_unit.h"

#include "requests.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QSettings>
#include <QSpinBox>
#include <QTabWidget>

namespace {

AppSettings* current = nullptr;

// The connection: the values of the boxes, as their lists show them.
const QString kPort = QStringLiteral("connection/port");
const QString kSpeed = QStringLiteral("connection/speed");
const QString kNode = QStringLiteral("connection/node");
const QString kUnit = QStringLiteral("connection/unit");
// The main window.
const QString kGeometry = QStringLiteral("window/geometry");
const QString kPage = QStringLiteral("window/page");
const QString kParameterPage = QStringLiteral("window/parameterPage");
const QString kTreeSplitter = QStringLiteral("window/objectTreeSplitter");
// The log: the form of its time column and its filter. The function groups
// left out are kept by name, so that a group added later starts shown.
const QString kClockTime = QStringLiteral("log/clockTime");
const QString kLogNode = QStringLiteral("log/node");
const QString kHiddenGroups = QStringLiteral("log/hiddenFunctions");
const QString kTrendGroup = QStringLiteral("trend");

QString FolderKey(const QString& key)
{
    return QStringLiteral("folders/") + key;
}

// Picks `text` in the box as the user would; false when the list lacks it.
bool PickAsUser(QComboBox* box, const QString& text)
{
    const int i = box->findText(text);
    if (i < 0)
        return false;
    if (i != box->currentIndex() || box->currentText() != text) {
        box->setCurrentIndex(i);
        emit box->activated(i);
    }
    return true;
}

void RestoreTab(QTabWidget* tabs, const QVariant& value)
{
    bool ok = false;
    const int i = value.toInt(&ok);
    if (tabs && ok && i >= 0 && i < tabs->count())
        tabs->setCurrentIndex(i);
}

LogToolBar* LogBar(TForm1& form)
{
    return form.findChild<LogToolBar*>();
}

} // namespace

AppSettings::AppSettings(Store store, QObject* parent) : QObject(parent)
{
    if (store == Store::None)
        return;
    const QString application = QCoreApplication::applicationName();
    const QString organisation =
        QCoreApplication::organizationName().isEmpty() ? application : QCoreApplication::organizationName();
    settings_ =
        std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, organisation, application);
    current = this;
}

AppSettings::~AppSettings()
{
    if (current == this)
        current = nullptr;
}

AppSettings* AppSettings::Current()
{
    return current;
}

void TForm1::UseSettings(AppSettings* settings)
{
    settings_ = settings;
    if (settings)
        settings->Restore(*this);
}

void AppSettings::Restore(TForm1& form)
{
    if (!settings_)
        return;
    form_ = &form;
    formObject_ = &form;
    RestoreConnection(form);
    RestoreLayout(form);
    form.installEventFilter(this);
}

void AppSettings::Ignored(TForm1& form, const QString& what, const QString& value, const QString& instead)
{
    form.Log()->AppendLine(QStringLiteral("%1 %2 of the last session is not there; using %3")
                               .arg(what, value, instead)
                               .toStdString());
}

void AppSettings::RestoreConnection(TForm1& form)
{
    const QSettings& s = *settings_;
    // The transport fills the port and speed boxes; a pick goes through the
    // boxes' change handling, which opens the port and sets the rate. The
    // port comes first: picking one fills the speed box anew.
    if (form.comm_) {
        if (const QString port = s.value(kPort).toString();
            !port.isEmpty() && !PickAsUser(form.cbxAdaptorPort, port))
            Ignored(form, QStringLiteral("Port"), port, form.cbxAdaptorPort->currentText());
        // A serial adapter's rate is not chosen here: its box is disabled.
        if (const QString speed = s.value(kSpeed).toString();
            !speed.isEmpty() && form.cbxCANspeed->isEnabled() && !PickAsUser(form.cbxCANspeed, speed))
            Ignored(form, QStringLiteral("CAN speed"), speed, form.cbxCANspeed->currentText());
    }
    if (const QString node = s.value(kNode).toString(); !node.isEmpty()) {
        const int i = form.cbxCANaddr->findText(node);
        if (i >= 0)
            form.cbxCANaddr->setCurrentIndex(i);
        else
            Ignored(form, QStringLiteral("CAN Addr"), node, form.cbxCANaddr->currentText());
    }
    // The unit box takes any unit address a request can carry, not only
    // those it lists.
    QComboBox* unitBox = form.DataPage()->UnitAddressBox();
    if (const QString unit = s.value(kUnit).toString(); !unit.isEmpty()) {
        const std::optional<long long> n = tervix::ParseDecimal(unit.toStdString());
        if (n && *n >= 0 && *n <= 255)
            unitBox->setEditText(unit);
        else
            Ignored(form, QStringLiteral("KRV unit Addr"), unit, unitBox->currentText());
    }
}

void AppSettings::RestoreLayout(TForm1& form)
{
    QSettings& s = *settings_;
    if (const QByteArray geometry = s.value(kGeometry).toByteArray(); !geometry.isEmpty())
        form.restoreGeometry(geometry);
    RestoreTab(form.PageControl2, s.value(kPage));
    RestoreTab(form.PageControl1, s.value(kParameterPage));

    if (LogToolBar* bar = LogBar(form)) {
        if (s.contains(kClockTime))
            bar->ClockTimeBox()->setChecked(s.value(kClockTime).toBool());
        bool ok = false;
        const int node = s.value(kLogNode).toInt(&ok);
        if (ok && node >= bar->NodeBox()->minimum() && node <= bar->NodeBox()->maximum())
            bar->NodeBox()->setValue(node);
        if (s.contains(kHiddenGroups)) {
            const QStringList hidden = s.value(kHiddenGroups).toStringList();
            for (int i = 0; i < LogToolBar::kGroupCount; ++i)
                bar->GroupAction(i)->setChecked(
                    !hidden.contains(QString::fromLatin1(LogToolBar::kGroups[i].name)));
        }
    }

    // The object tree places its splitter when its page is first shown; the
    // kept one is put back right after that.
    if (form.objects_) {
        treeSheet_ = form.objects_->Sheet();
        treeSheet_->installEventFilter(this);
    }
}

bool AppSettings::eventFilter(QObject* watched, QEvent* event)
{
    // The window's events reach here while it is being destroyed too: it is
    // compared as the QObject it was, never reached through form_ then.
    if (event->type() == QEvent::Close && watched == formObject_ && form_) {
        Save(*form_);
    } else if (watched == treeSheet_ && event->type() == QEvent::Show && !treeShown_) {
        treeShown_ = true;
        const QByteArray state = settings_->value(kTreeSplitter).toByteArray();
        if (!state.isEmpty())
            QMetaObject::invokeMethod(
                this,
                [this, state] {
                    if (form_ && form_->objects_)
                        form_->objects_->Splitter()->restoreState(state);
                },
                Qt::QueuedConnection);
    }
    return QObject::eventFilter(watched, event);
}

void AppSettings::Save(TForm1& form)
{
    if (!settings_)
        return;
    QSettings& s = *settings_;
    if (form.comm_) {
        s.setValue(kPort, form.cbxAdaptorPort->currentText());
        // The USB adapter's rate stays while a serial port is in use.
        if (form.cbxCANspeed->isEnabled())
            s.setValue(kSpeed, form.cbxCANspeed->currentText());
    }
    s.setValue(kNode, form.cbxCANaddr->currentText());
    s.setValue(kUnit, form.DataPage()->UnitAddressBox()->currentText());

    s.setValue(kGeometry, form.saveGeometry());
    s.setValue(kPage, form.PageControl2->currentIndex());
    s.setValue(kParameterPage, form.PageControl1->currentIndex());
    // Before its page was shown the splitter has no place of its own yet.
    if (treeShown_ && form.objects_)
        s.setValue(kTreeSplitter, form.objects_->Splitter()->saveState());

    if (LogToolBar* bar = LogBar(form)) {
        s.setValue(kClockTime, bar->ClockTimeBox()->isChecked());
        s.setValue(kLogNode, bar->NodeBox()->value());
        QStringList hidden;
        for (int i = 0; i < LogToolBar::kGroupCount; ++i)
            if (!bar->GroupAction(i)->isChecked())
                hidden << QString::fromLatin1(LogToolBar::kGroups[i].name);
        s.setValue(kHiddenGroups, hidden);
    }

    if (form.TrendWindow())
        SaveTrend(*form.TrendWindow());
    s.sync();
}

void AppSettings::RestoreTrend(TTrendWindow& trend)
{
    if (!settings_)
        return;
    settings_->beginGroup(kTrendGroup);
    trend.RestoreSettings(*settings_);
    settings_->endGroup();
    if (trend_ != &trend) {
        trend_ = &trend;
        connect(&trend, &TTrendWindow::closed, this, [this] {
            if (trend_)
                SaveTrend(*trend_);
        });
    }
}

void AppSettings::SaveTrend(TTrendWindow& trend)
{
    if (!settings_)
        return;
    settings_->beginGroup(kTrendGroup);
    trend.SaveSettings(*settings_);
    settings_->endGroup();
    settings_->sync();
}

QString AppSettings::Folder(const QString& key) const
{
    return settings_ ? settings_->value(FolderKey(key)).toString() : QString();
}

void AppSettings::SetFolder(const QString& key, const QString& path)
{
    if (!settings_ || path.isEmpty())
        return;
    const QFileInfo info(path);
    settings_->setValue(FolderKey(key), info.isDir() ? info.absoluteFilePath() : info.absolutePath());
    settings_->sync();
}

QString LastFolder(const QString& key)
{
    const QString folder = current ? current->Folder(key) : QString();
    // A folder that is gone leaves the dialog where it starts by itself.
    return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : QString();
}

QString InLastFolder(const QString& key, const QString& fileName)
{
    const QString folder = LastFolder(key);
    return folder.isEmpty() ? fileName : QDir(folder).filePath(fileName);
}

void RememberFolder(const QString& key, const QString& path)
{
    if (current)
        current->SetFolder(key, path);
}
