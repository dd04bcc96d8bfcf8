#pragma once

#include "settings/Settings.h"
#include "settings/SettingsStore.h"

#include <QDialog>
#include <QHash>
#include <QList>
#include <QSet>

class DownloadProgressBar;
class ListDownload;
class LogSink;
class Platform;
class QCheckBox;
class QComboBox;
class QCommandLinkButton;
class QGridLayout;
class QLineEdit;
class QNetworkAccessManager;
class QNetworkReply;
class QPushButton;
class QSignalMapper;
class QTableWidget;
class QTableWidgetItem;
enum class UpdateOutcome;
struct UpdateLogLine;

// The modal "Options" dialog. It also holds the settings in memory for the whole run (the general
// options and the hosts lists); its widgets are their working copy, which save() stores.
class UI_OptionsPanel : public QDialog, private Settings {
    Q_OBJECT

public:
    // Loads the settings file (creating it when missing) before the widgets take their state from it.
    UI_OptionsPanel(Platform &platform, QWidget *parent = nullptr);
    // Downloads still in flight end silently; their lists stay as they were.
    ~UI_OptionsPanel() override;

    using Settings::getSetting;

    // Where the settings file's failures are reported; lines from before are delivered now.
    void setLogPanel(LogSink *panel);
    // Set the combo boxes from the stored Server and Log values; an unknown value gives the first item.
    void loadServerOption();
    void loadLogOption();
    void loadListsOption();

    // The check box of list row `row`, or null when the table has no such row.
    QCheckBox *selectBox(int row) const;
    // What changeEditor() does with the file dialog's answer: a cancelled one (empty) keeps the editor.
    void chooseEditor(const QString &picked);

public slots:
    void loadFromFile();
    void save();
    void okButtonClicked();
    void loadHostsList();
    void openLogDir();
    void openHostsDir();
    void changeEditor();
    void editorLineChanged(const QString &text);
    void launchChanged();
    void selectedChanged(int id);
    void openHostsFile(int id);
    void syncHostsFile(int id);
    void performAutoUpdate();

private slots:
    void serverOptionsChanged(int idx);
    void saveCellChanges(int row, int column);
    void syncButtonClicked(int id);
    void syncFinished(int id);
    bool checkTotalHostsSize();
    void cancelButtonClicked();
    void applyButtonClicked();
    void updateAllButtonClicked();

private:
    // A download in flight, as it moves from one row to another when the table is rebuilt.
    struct Transfer {
        QNetworkAccessManager *manager = nullptr;
        QNetworkReply *reply = nullptr;
        ListDownload *download = nullptr;
        bool automatic = false;
        int maximum = 0; // the progress shown so far
        int value = 0;
    };

    void resetToDefaults();
    void addOptionRow(QWidget *caption, QWidget *control, int rows = 1);
    QWidget *buildHostsBlock();
    void addHostsRow(int row, const HostsEntry &entry);
    void addLastRow();
    int listCount() const { return int(hostsList.size()); }
    void log(const UpdateLogLine &line);

    void startUpdate(int row, bool automatic);
    void trackTransfer(int row, const Transfer &transfer);
    void abortDownload(int row);
    void releaseTransfer(int row);
    void endUpdate(int row, UpdateOutcome outcome);
    void coverSourceCell(int row, DownloadProgressBar *bar);
    void uncoverSourceCell(int row);
    // Takes every download in flight off its row, keyed by its list.
    QHash<const HostsEntry *, Transfer> takeTransfers();

    Platform &platform;
    SettingsStore store;

    // The members below keep the order of the dialog's description; generalSettings and hostsList
    // come from Settings. The main window sets and reads the public ones directly.
    QGridLayout *mainLayout = nullptr;

public:
    QComboBox *serverCombo = nullptr;
    // Where the selected lists take effect (ListsIn).
    QComboBox *listsCombo = nullptr;
    QComboBox *logCombo = nullptr;

private:
    QPushButton *editorButton = nullptr;
    QLineEdit *editorLine = nullptr;

public:
    QCheckBox *launchBox = nullptr;

private:
    QWidget *hostsContainer = nullptr;
    QGridLayout *hostsLayout = nullptr;

public:
    QTableWidget *hostsTable = nullptr;
    // Entry i is row i of hostsTable.
    using Settings::hostsList;

private:
    // Per list row, rebuilt with the table; the updater fills the null slots while a row downloads.
    QList<QTableWidgetItem *> sourceItems;
    QList<DownloadProgressBar *> progressBars;
    QList<QNetworkAccessManager *> networkManagers;
    QList<QNetworkReply *> replies;
    QList<ListDownload *> downloads; // where each reply's body goes
    QSet<int> downloadingRows;       // rows whose download is in flight, any number of them
    LogSink *logPanel = nullptr;
    QSignalMapper *selectMapper = nullptr;
    QSignalMapper *openMapper = nullptr;
    QSignalMapper *syncMapper = nullptr;
    QSignalMapper *finishedMapper = nullptr;
    QCommandLinkButton *reloadButton = nullptr;
    QCommandLinkButton *updateAllButton = nullptr;
    QSet<int> autoUpdatingRows; // rows updated by the automatic update at start
    int gridRow = 0;
};
