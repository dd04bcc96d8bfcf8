#include "options/UI_OptionsPanel.h"

#include "log/LogSink.h"
#include "options/DownloadProgressBar.h"
#include "options/HostsColumns.h"
#include "options/HostsLibrary.h"
#include "options/HostsRowColour.h"
#include "options/HostsTableText.h"
#include "options/ListDownload.h"
#include "options/OpenInEditor.h"
#include "options/SelectionSize.h"
#include "options/SpinBoxDelegate.h"
#include "options/UpdateReport.h"
#include "options/UpdateTarget.h"
#include "platform/Platform.h"
#include "platform/SystemConstants.h"
#include "settings/UpdateSchedule.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCommandLinkButton>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QSignalMapper>
#include <QTableWidget>

#include <algorithm>
#include <utility>

namespace {

const QString settingsFile = QStringLiteral("settings");
const QString syncIcon = QStringLiteral(":/Resources/icon/Sync.png");
const QStringList serverModes = {QStringLiteral("Wildcard"), QStringLiteral("Regular Expression"),
                                 QStringLiteral("Off")};
const QStringList listsPlaces = {ListsIn::hostsFile, ListsIn::dnsServer};
const QString listsPlacesTip =
    QStringLiteral("Where the selected lists take effect: written into the system hosts file, or answered "
                   "from memory by the DNS server while Tarnowlock runs, the hosts file keeping only the "
                   "machine's own lines. The lists go into the hosts file while the server is off.");
const QStringList logModes = {QStringLiteral("Detailed"), QStringLiteral("Brief"), QStringLiteral("Off")};
const QString yes = QStringLiteral("Yes");
const QString no = QStringLiteral("No");
const QString notCreatedMessage =
    QStringLiteral("Create default settings failed! Please 'Run as administrator'");
const QString nothingSelectedMessage = QStringLiteral("Please select at least one hosts!");
const QString overLimitQuestion =
    QStringLiteral("You've selected over 2MB hosts file(s) in total.\n"
                   "And that may cause the system to be EXTEMELY slow!\nContinue?");

// The item of `modes` that `value` names exactly, else the first.
int modeIndex(const QStringList &modes, const QString &value)
{
    return qMax(0, modes.indexOf(value));
}

QComboBox *modeCombo(const QStringList &modes)
{
    auto *combo = new QComboBox;
    combo->addItems(modes);
    return combo;
}

QLabel *centredLabel(const QString &text)
{
    auto *label = new QLabel(text);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

// Makes `widget`'s `signal` report `row` through `mapper`.
template <typename Widget, typename Signal>
void mapToRow(Widget *widget, Signal signal, QSignalMapper *mapper, int row)
{
    QObject::connect(widget, signal, mapper, qOverload<>(&QSignalMapper::map));
    mapper->setMapping(widget, row);
}

// In row order, so that what happens to several rows is reported in a stable order.
QList<int> sortedRows(const QSet<int> &rows)
{
    QList<int> sorted = rows.values();
    std::sort(sorted.begin(), sorted.end());
    return sorted;
}

} // namespace

UI_OptionsPanel::UI_OptionsPanel(Platform &platform, QWidget *parent)
    : QDialog(parent), platform(platform),
      store(settingsFile, platform.defaultHostsSource(), platform.defaultEditor())
{
    setWindowFlags((windowFlags() & ~Qt::WindowContextHelpButtonHint) | Qt::WindowMinimizeButtonHint |
                   Qt::WindowMaximizeButtonHint);
    resize(800, 600);
    setWindowTitle(QStringLiteral("Options"));

    // Memory first: every widget below starts from the stored settings.
    resetToDefaults();
    loadFromFile();

    mainLayout = new QGridLayout;

    launchBox = new QCheckBox(sessionStartupCaption);
    launchBox->setChecked(getSetting(SettingKey::launch) == yes);
    addOptionRow(centredLabel(QStringLiteral("Launch")), launchBox);

    serverCombo = modeCombo(serverModes);
    connect(serverCombo, &QComboBox::currentIndexChanged, this, &UI_OptionsPanel::serverOptionsChanged);
    loadServerOption();
    addOptionRow(centredLabel(QStringLiteral("Server")), serverCombo);

    listsCombo = modeCombo(listsPlaces);
    listsCombo->setToolTip(listsPlacesTip);
    loadListsOption();
    addOptionRow(centredLabel(QStringLiteral("Lists in")), listsCombo);

    auto *logButton = new QPushButton(QStringLiteral("Log"));
    connect(logButton, &QPushButton::clicked, this, &UI_OptionsPanel::openLogDir);
    logCombo = modeCombo(logModes);
    loadLogOption();
    addOptionRow(logButton, logCombo);

    editorButton = new QPushButton(QStringLiteral("Editor"));
    connect(editorButton, &QPushButton::clicked, this, &UI_OptionsPanel::changeEditor);
    editorLine = new QLineEdit(getSetting(SettingKey::editor));
    addOptionRow(editorButton, editorLine);

    auto *hostsButton = new QPushButton(QStringLiteral("Hosts"));
    connect(hostsButton, &QPushButton::clicked, this, &UI_OptionsPanel::openHostsDir);
    addOptionRow(hostsButton, buildHostsBlock(), 5);

    auto *buttons = new QDialogButtonBox(
        QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply, Qt::Horizontal);
    connect(buttons, &QDialogButtonBox::accepted, this, &UI_OptionsPanel::okButtonClicked);
    connect(buttons, &QDialogButtonBox::rejected, this, &UI_OptionsPanel::cancelButtonClicked);
    connect(buttons->button(QDialogButtonBox::Apply), &QPushButton::clicked, this,
            &UI_OptionsPanel::applyButtonClicked);
    mainLayout->addWidget(buttons, gridRow, 9);

    setLayout(mainLayout);
}

UI_OptionsPanel::~UI_OptionsPanel()
{
    for (int row : std::as_const(downloadingRows)) {
        QObject::disconnect(replies[row], nullptr, finishedMapper, nullptr);
        // Takes its reply along, and with it the unfinished temporary file.
        delete networkManagers[row];
        // Out of the table while the bar covers its cell, so the table does not delete it.
        delete sourceItems[row];
    }
}

void UI_OptionsPanel::setLogPanel(LogSink *panel)
{
    logPanel = panel;
    store.setLogSink(panel);
}

void UI_OptionsPanel::loadServerOption()
{
    serverCombo->setCurrentIndex(modeIndex(serverModes, getSetting(SettingKey::server)));
}

void UI_OptionsPanel::loadListsOption()
{
    listsCombo->setCurrentIndex(modeIndex(listsPlaces, getSetting(SettingKey::lists)));
}

void UI_OptionsPanel::loadLogOption()
{
    logCombo->setCurrentIndex(modeIndex(logModes, getSetting(SettingKey::log)));
}

QCheckBox *UI_OptionsPanel::selectBox(int row) const
{
    if (row < 0 || row >= listCount())
        return nullptr;
    return qobject_cast<QCheckBox *>(hostsTable->cellWidget(row, HostsColumn::Select));
}

void UI_OptionsPanel::chooseEditor(const QString &picked)
{
    if (!picked.isEmpty())
        editorLine->setText(picked);
}

void UI_OptionsPanel::loadFromFile()
{
    if (store.loadFromFile(*this) == SettingsStore::LoadResult::NotCreated)
        QMessageBox::information(this, QString(), notCreatedMessage, QMessageBox::Ok);
}

void UI_OptionsPanel::save()
{
    generalSettings[SettingKey::launch] = launchBox->isChecked() ? yes : no;
    launchChanged();
    generalSettings[SettingKey::server] = serverCombo->currentText();
    generalSettings[SettingKey::lists] = listsCombo->currentText();
    generalSettings[SettingKey::log] = logCombo->currentText();
    generalSettings[SettingKey::editor] = editorLine->text();
    // Rows the table does not show yet keep their values in memory.
    for (int row = 0; row < listCount(); ++row) {
        if (const QCheckBox *box = selectBox(row))
            hostsList[row]->selected = box->isChecked();
        if (const QTableWidgetItem *frequency = hostsTable->item(row, HostsColumn::Frequency))
            hostsList[row]->updateFrequency = frequencyOf(frequency->text());
    }
    store.save(*this);
}

void UI_OptionsPanel::okButtonClicked()
{
    if (!checkTotalHostsSize())
        return;
    save();
    accept();
}

void UI_OptionsPanel::loadHostsList()
{
    // A fresh program folder has no library yet: imports and the first updates need it.
    if (!QDir().mkpath(hostsDir))
        log({QStringLiteral("Can't create the hosts folder '%1'").arg(hostsDir), LogLevel::Fails});
    // A download in flight follows its list to the list's new row; one whose list leaves the
    // table (its file is gone) is cancelled first, while its row still holds it.
    const QStringList files = listHostsFiles(hostsDir);
    for (int row : sortedRows(downloadingRows)) {
        if (!files.contains(hostsList[row]->name) && !awaitsFirstUpdate(*hostsList[row]))
            abortDownload(row);
    }
    const QHash<const HostsEntry *, Transfer> transfers = takeTransfers();
    reconcileHostsList(hostsList, files);

    sourceItems.clear();
    progressBars.clear();
    networkManagers.clear();
    replies.clear();
    downloads.clear();
    hostsTable->clearContents();
    hostsTable->setRowCount(0);
    for (int row = 0; row < listCount(); ++row) {
        addHostsRow(row, *hostsList[row]);
        const auto transfer = transfers.constFind(hostsList[row].get());
        if (transfer == transfers.cend())
            continue;
        auto *bar = new DownloadProgressBar;
        bar->setRange(0, transfer->maximum);
        bar->setValue(transfer->value);
        coverSourceCell(row, bar);
        trackTransfer(row, *transfer);
    }
    for (int column :
         {HostsColumn::Select, HostsColumn::HostsFile, HostsColumn::LastUpdate, HostsColumn::Frequency})
        hostsTable->resizeColumnToContents(column);
    addLastRow();
    hostsTable->resizeRowsToContents();
}

void UI_OptionsPanel::openLogDir()
{
    platform.showFolder(logDir);
}

void UI_OptionsPanel::openHostsDir()
{
    platform.showFolder(hostsDir);
}

void UI_OptionsPanel::changeEditor()
{
    chooseEditor(QFileDialog::getOpenFileName());
}

// Part of the dialog's interface; the editor line needs no reaction until save() reads it.
void UI_OptionsPanel::editorLineChanged(const QString &) {}

void UI_OptionsPanel::launchChanged()
{
    const QString reason = platform.setStartupEntry(launchBox->isChecked(), platform.executablePath());
    if (!reason.isEmpty())
        log({QStringLiteral("Can't change the start-up entry: %1").arg(reason), LogLevel::Fails});
}

void UI_OptionsPanel::selectedChanged(int id)
{
    if (const QCheckBox *box = selectBox(id))
        colourHostsRow(*hostsTable, id, box->isChecked(), !downloadingRows.contains(id));
}

void UI_OptionsPanel::openHostsFile(int id)
{
    // The stored editor, not the one typed in the dialog and not yet saved.
    if (id >= 0 && id < listCount())
        openInEditor(platform, logPanel, getSetting(SettingKey::editor), hostsDir + hostsList[id]->name,
                     QDir::currentPath());
}

void UI_OptionsPanel::syncHostsFile(int id)
{
    startUpdate(id, false);
}

void UI_OptionsPanel::performAutoUpdate()
{
    const QDate today = QDate::currentDate();
    for (int row = 0; row < listCount(); ++row) {
        if (isUpdateDue(*hostsList[row], today))
            startUpdate(row, true);
    }
}

// Part of the dialog's interface; a new server mode takes effect when the main window applies it.
void UI_OptionsPanel::serverOptionsChanged(int) {}

void UI_OptionsPanel::saveCellChanges(int row, int column)
{
    if (column != HostsColumn::Source || row < 0 || row >= listCount() || downloadingRows.contains(row))
        return;
    if (const QTableWidgetItem *source = hostsTable->item(row, column))
        hostsList[row]->updateUrl.setUrl(source->text(), QUrl::TolerantMode);
}

void UI_OptionsPanel::syncButtonClicked(int id)
{
    syncHostsFile(id);
}

void UI_OptionsPanel::syncFinished(int id)
{
    // A reply whose row was already ended (cancelled) is not ended twice.
    if (id < 0 || id >= listCount() || !downloadingRows.contains(id))
        return;
    const UpdateOutcome outcome = downloads[id]->finish();
    releaseTransfer(id);
    endUpdate(id, outcome);
}

bool UI_OptionsPanel::checkTotalHostsSize()
{
    QStringList selectedFiles;
    for (int row = 0; row < listCount(); ++row) {
        const QCheckBox *box = selectBox(row);
        if (box && box->isChecked())
            selectedFiles << hostsDir + hostsList[row]->name;
    }
    const SelectionSize size = measureSelection(selectedFiles);
    if (size == SelectionSize::Nothing) {
        QMessageBox::information(this, QString(), nothingSelectedMessage, QMessageBox::Ok);
        return false;
    }
    // Served by the DNS server, the lists leave the hosts file small.
    if (size == SelectionSize::WithinLimit || listsCombo->currentText() == ListsIn::dnsServer)
        return true;
    QMessageBox question(QMessageBox::Critical, QString(), overLimitQuestion,
                         QMessageBox::Yes | QMessageBox::No | QMessageBox::Apply, this);
    question.button(QMessageBox::Apply)->setText(ListsIn::dnsServer);
    question.button(QMessageBox::Apply)->setToolTip(listsPlacesTip);
    switch (question.exec()) {
    case QMessageBox::Apply:
        listsCombo->setCurrentIndex(int(listsPlaces.indexOf(ListsIn::dnsServer)));
        return true;
    case QMessageBox::Yes:
        return true;
    default:
        return false;
    }
}

void UI_OptionsPanel::cancelButtonClicked()
{
    for (int row : sortedRows(downloadingRows))
        abortDownload(row);
    reject();
}

void UI_OptionsPanel::applyButtonClicked()
{
    save();
}

void UI_OptionsPanel::updateAllButtonClicked()
{
    // Network rows start and run on; local rows are copied one after another, here.
    for (int row = 0; row < listCount(); ++row)
        syncHostsFile(row);
}

void UI_OptionsPanel::log(const UpdateLogLine &line)
{
    if (logPanel)
        logPanel->appendLog(line.text, line.level, false);
}

void UI_OptionsPanel::startUpdate(int row, bool automatic)
{
    if (row < 0 || row >= listCount() || downloadingRows.contains(row))
        return;
    const HostsEntry &entry = *hostsList[row];
    if (entry.updateUrl.isEmpty())
        return;
    const QString target = updateTarget(entry.name);
    if (target.isEmpty()) {
        log(updateRefusedLine(entry.name));
        return;
    }
    coverSourceCell(row, new DownloadProgressBar);
    log(updateStartLine(entry.name));
    if (automatic)
        autoUpdatingRows.insert(row);

    if (entry.updateUrl.isLocalFile()) {
        // Blocks the event loop until the copy has ended.
        const bool copied =
            platform.copyFile(entry.updateUrl.toLocalFile(), target) && dropAppliedLists(target);
        endUpdate(row, copied ? UpdateOutcome::Updated : UpdateOutcome::SaveFailed);
        return;
    }
    auto *manager = new QNetworkAccessManager;
    QNetworkReply *reply = manager->get(listRequest(entry.updateUrl));
    connect(reply, &QNetworkReply::finished, finishedMapper, qOverload<>(&QSignalMapper::map));
    Transfer transfer;
    transfer.manager = manager;
    transfer.reply = reply;
    transfer.download = new ListDownload(reply, target);
    transfer.automatic = automatic;
    trackTransfer(row, transfer);
}

void UI_OptionsPanel::trackTransfer(int row, const Transfer &transfer)
{
    networkManagers[row] = transfer.manager;
    replies[row] = transfer.reply;
    downloads[row] = transfer.download;
    downloadingRows.insert(row);
    if (transfer.automatic)
        autoUpdatingRows.insert(row);
    finishedMapper->setMapping(transfer.reply, row);
    connect(transfer.reply, &QNetworkReply::downloadProgress, progressBars[row],
            &DownloadProgressBar::updateProgress);
}

void UI_OptionsPanel::abortDownload(int row)
{
    downloads[row]->cancel();
    // Ended now even if the reply reports its end only later; that report then finds no row.
    syncFinished(row);
}

void UI_OptionsPanel::releaseTransfer(int row)
{
    QNetworkReply *reply = replies[row];
    reply->close();
    finishedMapper->removeMappings(reply);
    reply->deleteLater(); // takes its ListDownload along
    networkManagers[row]->deleteLater();
    networkManagers[row] = nullptr;
    replies[row] = nullptr;
    downloads[row] = nullptr;
}

void UI_OptionsPanel::endUpdate(int row, UpdateOutcome outcome)
{
    HostsEntry &entry = *hostsList[row];
    if (outcome == UpdateOutcome::Updated)
        entry.lastUpdate = QDateTime::currentDateTime();
    const bool automatic = autoUpdatingRows.remove(row);
    downloadingRows.remove(row);
    uncoverSourceCell(row);
    // The Source cell takes its row's colour again, whatever the check box did meanwhile.
    selectedChanged(row);
    if (auto *button = qobject_cast<QAbstractButton *>(hostsTable->cellWidget(row, HostsColumn::LastUpdate)))
        button->setText(lastUpdateText(entry.lastUpdate));

    // The message box runs an event loop that may rebuild the table: the row is done with.
    const QString name = entry.name;
    if (updateNeedsFailureBox(outcome, automatic))
        QMessageBox::warning(this, QString(), updateFailureBoxText(name), QMessageBox::Ok);
    log(updateEndLine(outcome, name));
}

void UI_OptionsPanel::coverSourceCell(int row, DownloadProgressBar *bar)
{
    progressBars[row] = bar;
    hostsTable->takeItem(row, HostsColumn::Source); // sourceItems keeps it
    hostsTable->setCellWidget(row, HostsColumn::Source, bar);
    bar->repaint();
}

void UI_OptionsPanel::uncoverSourceCell(int row)
{
    hostsTable->removeCellWidget(row, HostsColumn::Source);
    progressBars[row] = nullptr;
    hostsTable->setItem(row, HostsColumn::Source, sourceItems[row]);
}

QHash<const HostsEntry *, UI_OptionsPanel::Transfer> UI_OptionsPanel::takeTransfers()
{
    QHash<const HostsEntry *, Transfer> transfers;
    for (int row : std::as_const(downloadingRows)) {
        Transfer transfer;
        transfer.manager = networkManagers[row];
        transfer.reply = replies[row];
        transfer.download = downloads[row];
        transfer.automatic = autoUpdatingRows.contains(row);
        transfer.maximum = progressBars[row]->maximum();
        transfer.value = progressBars[row]->value();
        QObject::disconnect(transfer.reply, nullptr, progressBars[row], nullptr);
        transfers.insert(hostsList[row].get(), transfer);
        // Out of the table while the bar covers its cell; the new row brings its own.
        delete sourceItems[row];
    }
    downloadingRows.clear();
    autoUpdatingRows.clear();
    return transfers;
}

// Called once, before the table has rows: the per-row state is still empty.
void UI_OptionsPanel::resetToDefaults()
{
    store.resetToDefaults(*this);
}

void UI_OptionsPanel::addOptionRow(QWidget *caption, QWidget *control, int rows)
{
    mainLayout->addWidget(caption, gridRow, 0, rows, 1);
    mainLayout->addWidget(new QLabel(QStringLiteral(":")), gridRow, 1, rows, 1);
    mainLayout->addWidget(control, gridRow, 2, rows, 8);
    gridRow += rows;
}

QWidget *UI_OptionsPanel::buildHostsBlock()
{
    hostsContainer = new QWidget;
    hostsLayout = new QGridLayout(hostsContainer);
    hostsTable = new QTableWidget(0, HostsColumn::Count);
    hostsTable->setHorizontalHeaderLabels({QStringLiteral("Select"), QStringLiteral("Hosts File"),
                                           QStringLiteral("Source"), QStringLiteral("Last Update"),
                                           QStringLiteral("Frequency")});
    hostsTable->setItemDelegateForColumn(HostsColumn::Frequency, new SpinBoxDelegate(hostsTable));
    hostsTable->horizontalHeader()->setSectionResizeMode(HostsColumn::Source, QHeaderView::Stretch);
    hostsTable->setWordWrap(false);
    hostsLayout->addWidget(hostsTable, 0, 0);

    connect(hostsTable, &QTableWidget::cellChanged, this, &UI_OptionsPanel::saveCellChanges);
    connect(hostsTable, &QTableWidget::cellClicked, this, &UI_OptionsPanel::saveCellChanges);
    selectMapper = new QSignalMapper(this);
    connect(selectMapper, &QSignalMapper::mappedInt, this, &UI_OptionsPanel::selectedChanged);
    openMapper = new QSignalMapper(this);
    connect(openMapper, &QSignalMapper::mappedInt, this, &UI_OptionsPanel::openHostsFile);
    syncMapper = new QSignalMapper(this);
    connect(syncMapper, &QSignalMapper::mappedInt, this, &UI_OptionsPanel::syncButtonClicked);
    finishedMapper = new QSignalMapper(this);
    connect(finishedMapper, &QSignalMapper::mappedInt, this, &UI_OptionsPanel::syncFinished);
    return hostsContainer;
}

void UI_OptionsPanel::addHostsRow(int row, const HostsEntry &entry)
{
    hostsTable->insertRow(row);
    auto *source = new QTableWidgetItem(entry.updateUrl.toString());
    sourceItems.append(source);
    progressBars.append(nullptr);
    networkManagers.append(nullptr);
    replies.append(nullptr);
    downloads.append(nullptr);

    auto *box = new QCheckBox;
    mapToRow(box, &QCheckBox::stateChanged, selectMapper, row);
    auto *fileButton = new QCommandLinkButton(entry.name);
    mapToRow(fileButton, &QCommandLinkButton::clicked, openMapper, row);
    auto *syncButton = new QCommandLinkButton(lastUpdateText(entry.lastUpdate));
    syncButton->setIcon(QIcon(syncIcon));
    mapToRow(syncButton, &QCommandLinkButton::clicked, syncMapper, row);

    hostsTable->setCellWidget(row, HostsColumn::Select, box);
    hostsTable->setCellWidget(row, HostsColumn::HostsFile, fileButton);
    hostsTable->setItem(row, HostsColumn::Source, source);
    hostsTable->setCellWidget(row, HostsColumn::LastUpdate, syncButton);
    writeFrequency(*hostsTable->model(), hostsTable->model()->index(row, HostsColumn::Frequency),
                   entry.updateFrequency);
    // The mapper is connected already: a selected row is coloured at once.
    box->setCheckState(entry.selected ? Qt::Checked : Qt::Unchecked);
}

void UI_OptionsPanel::addLastRow()
{
    const int row = hostsTable->rowCount();
    hostsTable->insertRow(row);
    reloadButton = new QCommandLinkButton(QStringLiteral("Reload hosts list"));
    connect(reloadButton, &QCommandLinkButton::clicked, this, &UI_OptionsPanel::loadHostsList);
    hostsTable->setCellWidget(row, HostsColumn::Select, reloadButton);
    hostsTable->setSpan(row, HostsColumn::Select, 1, 3);
    updateAllButton = new QCommandLinkButton(QStringLiteral("Update all"));
    updateAllButton->setIcon(QIcon(syncIcon));
    connect(updateAllButton, &QCommandLinkButton::clicked, this, &UI_OptionsPanel::updateAllButtonClicked);
    hostsTable->setCellWidget(row, HostsColumn::LastUpdate, updateAllButton);
    hostsTable->setSpan(row, HostsColumn::LastUpdate, 1, 2);
}
