// The device list for larger networks: orders chosen from the header, rows arriving into them,
// the order kept for the next start, the saved list as other programs read it, the keyboard.
#include <gtest/gtest.h>

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTest>

#include <filesystem>
#include <fstream>
#include <thread>

#include "AppTestSupport.h"
#include "DeviceRecord.h"
#include "FakeSocketLayer.h"
#include "gui/app/OLDiscoveryApp.h"
#include "gui/app/OLDiscoveryDlg.h"
#include "engine/ScanListener.h"
#include "log/DeviceText.h"
#include "res/Resource.h"
#include "res/StringTable.h"
#include "gui/settings/Prefs.h"
#include "LogCapture.h"

using apptest::ModalScript;
using apptest::ScopedWorkDir;
using apptest::WaitUntil;
using testsupport::MakeDevice;
using Rows = std::vector<std::vector<std::string>>;

namespace {

// Hands devices to the open dialog from another thread, as the scan worker does, and waits
// until they are rows.
void Arrive(COLDiscoveryDlg& dlg, const std::vector<COrvalink>& devices) {
    IScanListener* listener = dlg.GetScanListener();
    ASSERT_NE(listener, nullptr);
    const int expected = dlg.m_listDevices->topLevelItemCount() + static_cast<int>(devices.size());
    std::thread worker([&] {
        for (const COrvalink& device : devices)
            listener->OnDeviceFound(device);
    });
    worker.join();
    ASSERT_TRUE(WaitUntil([&] { return dlg.m_listDevices->topLevelItemCount() == expected; }));
}

Rows Shown(const COLDiscoveryDlg& dlg) {
    Rows rows;
    for (int i = 0; i < dlg.m_listDevices->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = dlg.m_listDevices->topLevelItem(i);
        rows.push_back({});
        for (int column = 0; column < 4; ++column)
            rows.back().push_back(item->text(column).toStdString());
    }
    return rows;
}

std::vector<std::string> Ips(const COLDiscoveryDlg& dlg) {
    std::vector<std::string> ips;
    for (const auto& row : Shown(dlg))
        ips.push_back(row[0]);
    return ips;
}

// A click on a column header, as the user's mouse gives it.
void ClickHeader(const COLDiscoveryDlg& dlg, int section) {
    QHeaderView* header = dlg.m_listDevices->header();
    const QPoint at(header->sectionViewportPosition(section) + header->sectionSize(section) / 2,
                    header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
}

int RunDialog(COLDiscoveryDlg& dlg, const std::function<void()>& script) {
    ModalScript modal([&](QWidget*) { script(); });
    return dlg.DoModal();
}

class DeviceListTest : public testing::Test {
protected:
    ScopedWorkDir m_dir;
    CPrefs m_prefs;
};

}  // namespace

TEST_F(DeviceListTest, HeaderClicksOrderTheRowsAndRowsArrivingLaterLandInPlace) {
    // Each case: the devices in arrival order, the header clicks, the arrival indices of the
    // rows from the top. The first half arrives before the clicks, the rest after them, as
    // during a scan.
    const std::vector<COrvalink> ips = {
        MakeDevice("10.0.0.9", "n/a", "t", "b"), MakeDevice("10.0.0.10", "n/a", "t", "b"),
        MakeDevice("9.0.0.1", "n/a", "t", "b"),  MakeDevice("10.0.0.100", "n/a", "t", "b"),
        MakeDevice("10.0.0.9", "n/a", "u", "b"), MakeDevice("192.168.0.1", "n/a", "t", "b"),
    };
    const std::vector<COrvalink> macs = {
        MakeDevice("10.0.0.1", "02:00:0B:00:00:01", "t", "b"),
        MakeDevice("10.0.0.2", "n/a", "t", "b"),
        MakeDevice("10.0.0.3", "02:00:0a:00:00:01", "t", "b"),
        MakeDevice("10.0.0.4", "02:00:0A:00:00:00", "t", "b"),
        MakeDevice("10.0.0.5", "n/a", "t", "b"),
        MakeDevice("10.0.0.6", "02:00:09:FF:FF:FF", "t", "b"),
    };
    const std::vector<COrvalink> builds = {
        MakeDevice("10.0.0.1", "n/a", "OL-10", "1.10"),  MakeDevice("10.0.0.2", "n/a", "OL-9", "1.9"),
        MakeDevice("10.0.0.3", "n/a", "OL-100", "10.0"), MakeDevice("10.0.0.4", "n/a", "OL-9", "0.9 beta"),
        MakeDevice("10.0.0.5", "n/a", "OL-2", "1.9"),    MakeDevice("10.0.0.6", "n/a", "OL-9", "2.0.14"),
    };
    struct Case {
        const char* what;
        const std::vector<COrvalink>& devices;
        std::vector<int> clicks;
        std::vector<int> order;
    };
    const Case cases[] = {
        {"no choice: IP text, repeated answers in arrival order", ips, {}, {1, 3, 0, 4, 5, 2}},
        {"IP numeric", ips, {0}, {2, 0, 4, 1, 3, 5}},
        {"IP numeric reversed; equal keys still in arrival order", ips, {0, 0}, {5, 3, 1, 0, 4, 2}},
        {"a third click returns to the IP text order", ips, {0, 0, 0}, {1, 3, 0, 4, 5, 2}},
        {"and a fourth sorts again", ips, {0, 0, 0, 0}, {2, 0, 4, 1, 3, 5}},
        {"MAC by bytes, n/a after every address", macs, {1}, {5, 3, 2, 0, 1, 4}},
        {"MAC reversed, n/a first", macs, {1, 1}, {1, 4, 0, 2, 3, 5}},
        {"type in natural order", builds, {2}, {4, 1, 3, 5, 0, 2}},
        {"build in natural order: 1.9 before 1.10", builds, {3}, {3, 1, 4, 0, 5, 2}},
        {"another column starts ascending", builds, {3, 3, 2}, {4, 1, 3, 5, 0, 2}},
        {"build reversed", builds, {2, 3, 3}, {2, 5, 0, 1, 4, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CPrefs prefs;
        COLDiscoveryDlg dlg(&prefs);
        RunDialog(dlg, [&] {
            const auto half = c.devices.begin() + static_cast<std::ptrdiff_t>(c.devices.size() / 2);
            Arrive(dlg, {c.devices.begin(), half});
            for (int section : c.clicks)
                ClickHeader(dlg, section);
            Arrive(dlg, {half, c.devices.end()});
            Rows expected;
            for (int index : c.order) {
                const COrvalink& d = c.devices[static_cast<std::size_t>(index)];
                expected.push_back({d.m_strIP, d.m_strMAC, d.m_strType, d.m_strBuild});
            }
            EXPECT_EQ(Shown(dlg), expected);

            // A click on the sorted column turns it round, the next one ends the sort; a click on
            // another column makes that one ascend.
            int column = SORT_NONE;
            bool descending = false;
            for (int section : c.clicks) {
                const bool third = section == column && descending;
                descending = section == column && !descending;
                column = third ? SORT_NONE : section;
            }
            QHeaderView* header = dlg.m_listDevices->header();
            EXPECT_EQ(header->isSortIndicatorShown(), column != SORT_NONE);
            if (column != SORT_NONE) {
                EXPECT_EQ(header->sortIndicatorSection(), column);
                EXPECT_EQ(header->sortIndicatorOrder(),
                          descending ? Qt::DescendingOrder : Qt::AscendingOrder);
            }
            EXPECT_EQ(prefs.GetSortColumn(), column);
            EXPECT_EQ(prefs.GetSortDescending(), descending);
        });
    }
}

TEST_F(DeviceListTest, TheChosenOrderHoldsOverRefreshAndTheNextStart) {
    auto sockets = std::make_shared<testsupport::FakeSocketLayer>();
    std::vector<testsupport::FakePacket> replies;
    for (const char* ip : {"10.77.1.10", "10.77.1.2", "10.77.1.1", "10.77.1.20", "10.77.1.9"})
        replies.push_back(testsupport::MakeReply(ip, "type:OL\nbuild:1\n"));
    sockets->SetRepliesOnBroadcast(replies);
    const std::vector<std::string> numeric = {"10.77.1.1", "10.77.1.2", "10.77.1.9", "10.77.1.10",
                                              "10.77.1.20"};
    const std::vector<std::string> reversed(numeric.rbegin(), numeric.rend());
    auto probe = std::make_shared<apptest::FakeProbe>();

    // Each run gives the rows after its first scan and the header's indicator, then acts.
    using Seen = std::pair<std::vector<std::string>, std::string>;
    auto run = [&](const std::function<void(COLDiscoveryDlg&)>& act) {
        Seen seen;
        COLDiscoveryApp app(probe, sockets, sockets, "OLDiscovery");
        ModalScript script([&](QWidget* w) {
            auto* dlg = qobject_cast<COLDiscoveryDlg*>(w);
            ASSERT_NE(dlg, nullptr);
            ASSERT_TRUE(WaitUntil([&] { return dlg->m_btnRefresh->isEnabled(); }));
            QHeaderView* header = dlg->m_listDevices->header();
            seen = {Ips(*dlg),
                    !header->isSortIndicatorShown()
                        ? "none"
                        : std::to_string(header->sortIndicatorSection()) +
                              (header->sortIndicatorOrder() == Qt::AscendingOrder ? " up" : " down")};
            act(*dlg);
        });
        app.InitInstance();
        return seen;
    };

    const Seen first = run([&](COLDiscoveryDlg& dlg) {
        ClickHeader(dlg, 0);
        ClickHeader(dlg, 0);
        EXPECT_EQ(Ips(dlg), reversed);
        // A refresh fills the list again in the chosen order.
        dlg.m_btnRefresh->click();
        ASSERT_TRUE(WaitUntil([&] { return dlg.m_btnRefresh->isEnabled(); }));
        EXPECT_EQ(Ips(dlg), reversed);
    });
    const std::vector<std::string> text = {"10.77.1.1", "10.77.1.10", "10.77.1.2", "10.77.1.20", "10.77.1.9"};
    EXPECT_EQ(first, Seen(text, "none")) << "before any choice: the IP text order";
    const std::string profile = testsupport::ReadFileBytes(m_dir.ProfileFile("OLDiscovery"));
    EXPECT_NE(profile.find("SortColumn=IP\nSortOrder=Descending\n"), std::string::npos) << profile;

    // The third click's return to the first order is kept as well.
    EXPECT_EQ(run([&](COLDiscoveryDlg& dlg) { ClickHeader(dlg, 0); }), Seen(reversed, "0 down"));
    EXPECT_EQ(run([](COLDiscoveryDlg&) {}), Seen(text, "none"));
}

TEST_F(DeviceListTest, SavedCsvAndJsonReadBackByPythonAreTheRowsShown) {
    LogCapture log;
    const std::vector<COrvalink> devices = {
        MakeDevice("10.0.0.10", "02:00:0A:00:00:0A", "OL-2100 PoE", "2.0.14"),
        MakeDevice("10.0.0.2", "n/a", "OL, \"quoted\"", "1.9"),
        MakeDevice("10.0.0.3", "02:00:0A:00:00:03", "two\r\nlines", "\xE9t\xE9"),
        MakeDevice("10.0.0.4", "02:00:0A:00:00:04", " Ger\xC3\xA4t\t", "1.10"),
    };
    COLDiscoveryDlg dlg(&m_prefs);
    RunDialog(dlg, [&] {
        Arrive(dlg, devices);
        ClickHeader(dlg, 3);
        ClickHeader(dlg, 3);
        const Rows shown = Shown(dlg);
        ASSERT_EQ(shown.front()[0], "10.0.0.3") << "build \xC3\xA9t\xC3\xA9 is last in natural order";
        EXPECT_EQ(shown.front()[2], "two\\r\\nlines");

        // Ctrl+S opens the chooser for CSV; the menu item opens the same one, here for JSON,
        // with a name that gets the file type's extension.
        struct Save {
            bool json;  // the user picks the second file type
            const char* name;
            const char* file;
            bool byShortcut;
        };
        const Save saves[] = {
            {false, "list.csv", "list.csv", true},
            {true, "list", "list.json", false},
        };
        for (const Save& save : saves) {
            std::vector<std::string> seen;
            ModalScript chooserScript([&](QWidget* w) {
                auto* chooser = qobject_cast<QFileDialog*>(w);
                ASSERT_TRUE(chooser);
                seen = {chooser->windowTitle().toStdString(), chooser->nameFilters().join(";").toStdString()};
                if (save.json) {
                    auto* types = chooser->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
                    ASSERT_TRUE(types);
                    QTest::keyClick(types, Qt::Key_Down);
                    ASSERT_EQ(chooser->selectedNameFilter(), QStringLiteral("JSON files (*.json)"));
                }
                chooser->selectFile(QString::fromStdString(m_dir.File(save.name)));
                static_cast<QDialog*>(chooser)->accept();
            });
            if (save.byShortcut) {
                dlg.activateWindow();
                ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
                QTest::keyClick(dlg.m_listDevices, Qt::Key_S, Qt::ControlModifier);
            } else {
                // Above Find and the About item, after Minimize and Close.
                const QList<QAction*> menu = dlg.GetSystemMenu()->actions();
                ASSERT_EQ(menu.size(), 6);
                EXPECT_TRUE(menu[4]->isSeparator());
                EXPECT_EQ(menu[2]->text(), QStringLiteral("Save list..."));
                EXPECT_EQ(menu[2]->shortcut(), QKeySequence(QStringLiteral("Ctrl+S")));
                EXPECT_EQ(menu[3]->shortcut(), QKeySequence(QStringLiteral("Ctrl+F")));
                EXPECT_EQ(menu[5]->text().toStdString(), LoadString(IDS_ABOUTBOX));
                menu[2]->trigger();
            }
            EXPECT_EQ(seen, (std::vector<std::string>{"Save List", "CSV files (*.csv);JSON files (*.json)"}));
            ASSERT_TRUE(std::filesystem::exists(m_dir.File(save.file))) << save.file;
        }

        // Python's own readers give back the rows, in the order shown.
        const char* reader =
            "import csv, json, sys\n"
            "with open(sys.argv[1], newline='', encoding='utf-8') as f:\n"
            "    r = list(csv.reader(f))\n"
            "assert r[0] == ['ip', 'mac', 'type', 'build'], r[0]\n"
            "with open(sys.argv[2], encoding='utf-8') as f:\n"
            "    j = [[o['ip'], o['mac'], o['type'], o['build']] for o in json.load(f)]\n"
            "print(json.dumps([r[1:], j]))\n";
        QProcess python;
        python.start(QStringLiteral("python3"), {QStringLiteral("-c"), QString::fromUtf8(reader),
                                                 QString::fromStdString(m_dir.File("list.csv")),
                                                 QString::fromStdString(m_dir.File("list.json"))});
        ASSERT_TRUE(python.waitForFinished(30000));
        ASSERT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
        const QJsonArray both = QJsonDocument::fromJson(python.readAllStandardOutput()).array();
        ASSERT_EQ(both.size(), 2);
        for (int format = 0; format < 2; ++format) {
            Rows read;
            for (const QJsonValue& row : both[format].toArray()) {
                read.push_back({});
                // The CSV holds the text as the window shows it, control characters as their
                // escapes; JSON holds the characters themselves.
                for (const QJsonValue& field : row.toArray())
                    read.back().push_back(format == 0 ? field.toString().toStdString()
                                                      : EscapeDeviceText(field.toString().toStdString(),
                                                                         ControlEscape::Text));
            }
            EXPECT_EQ(read, shown) << (format == 0 ? "csv" : "json");
        }
    });
    int saved = 0;
    for (const std::string& text : log.Texts())
        saved += text.rfind("Saved the list (4 rows) to ", 0) == 0;
    EXPECT_EQ(saved, 2);
}

TEST_F(DeviceListTest, AFailedSaveNamesPathAndReasonAndLeavesTheOldFile) {
    namespace fs = std::filesystem;
    testsupport::TempDir folder;
    const std::string target = folder.file("target.csv"), link = folder.file("link.csv");
    std::ofstream(target) << "old list\n";
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
    fs::create_symlink(target, link);
    // A folder by the name fails only at the final rename, after the data was written.
    const std::string folderNamed = folder.file("folder.csv");
    fs::create_directory(folderNamed);
    const std::string fifo = folder.file("fifo.csv");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::pair<std::string, std::string> failures[] = {
        {link, "it is a symbolic link"}, {folderNamed, "Is a directory"}, {fifo, "it is not a regular file"}};
    COLDiscoveryDlg dlg(&m_prefs);
    RunDialog(dlg, [&] {
        Arrive(dlg, {MakeDevice("10.0.0.1", "n/a", "OL", "1")});
        for (const auto& [path, reason] : failures) {
            QString text;
            QMessageBox::Icon icon = QMessageBox::NoIcon;
            ModalScript box([&](QWidget* w) {
                if (auto* message = qobject_cast<QMessageBox*>(w)) {
                    text = message->text();
                    icon = message->icon();
                }
            });
            EXPECT_FALSE(dlg.SaveList(path, ListFormat::Csv));
            EXPECT_EQ(text.toStdString(), "The list could not be saved to " + path + ":\n" + reason);
            EXPECT_EQ(icon, QMessageBox::Warning);
            EXPECT_EQ(testsupport::ReadFileBytes(target), "old list\n");
        }
        EXPECT_TRUE(fs::is_symlink(link));
        EXPECT_TRUE(fs::is_empty(folderNamed));
        EXPECT_EQ(fs::status(fifo).type(), fs::file_type::fifo);
        EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 4)
            << "no temporary file left behind";
        // Replaced in the end, the file keeps its permissions.
        EXPECT_TRUE(dlg.SaveList(target, ListFormat::Csv));
    });
    EXPECT_EQ(testsupport::ReadFileBytes(target), "ip,mac,type,build\r\n10.0.0.1,n/a,OL,1\r\n");
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(DeviceListTest, CtrlCCopiesTheSelectedIpAndTypingFindsARowByIp) {
    LogCapture log;
    COLDiscoveryDlg dlg(&m_prefs);
    RunDialog(dlg, [&] {
        Arrive(dlg, {MakeDevice("10.0.0.2", "n/a", "OL", "1"), MakeDevice("10.0.0.20", "n/a", "OL", "1"),
                     MakeDevice("10.0.0.10", "n/a", "OL", "1"), MakeDevice("192.168.1.1", "n/a", "OL", "1")});
        ClickHeader(dlg, 0);  // 10.0.0.2, 10.0.0.10, 10.0.0.20, 192.168.1.1
        QTreeWidget* list = dlg.m_listDevices;
        list->setFocus();
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        list->clearSelection();
        QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
        EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("before")) << "no row selected";

        // Each case: what is typed (a new search each), the row then selected.
        // The last case matches no row: the row found by its beginning stays.
        const std::pair<const char*, const char*> cases[] = {
            {"19", "192.168.1.1"},      {"10.0.0.2", "10.0.0.2"}, {"10.0.0.1", "10.0.0.10"},
            {"10.0.0.20", "10.0.0.20"}, {"10.0.0.3", "10.0.0.2"},
        };
        for (const auto& [typed, ip] : cases) {
            QTest::keyClicks(list, QString::fromLatin1(typed));
            ASSERT_EQ(list->selectedItems().size(), 1) << typed;
            EXPECT_EQ(list->selectedItems().front()->text(0).toStdString(), ip) << typed;
            // The current cell is that of the IP column: the next search looks there too.
            EXPECT_EQ(list->currentColumn(), 0);
            QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
            EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), ip);
            list->keyboardSearch(QString());  // as after a pause longer than the input interval
        }
    });
    std::vector<std::string> copied;
    for (const std::string& text : log.Texts()) {
        if (text.rfind("Copied IP ", 0) == 0)
            copied.push_back(text);
    }
    EXPECT_EQ(copied, (std::vector<std::string>{
                          "Copied IP 192.168.1.1 to clipboard", "Copied IP 10.0.0.2 to clipboard",
                          "Copied IP 10.0.0.10 to clipboard", "Copied IP 10.0.0.20 to clipboard",
                          "Copied IP 10.0.0.2 to clipboard"}));
}

TEST(SavedListFormatTest, TheNamesExtensionInAnyCaseOutranksTheChosenFileType) {
    struct Case {
        const char* path;
        ListFormat chosen;
        ListFormat expected;
    };
    const Case cases[] = {
        {"/tmp/list.JSON", ListFormat::Csv, ListFormat::Json},
        {"/tmp/list.Csv", ListFormat::Json, ListFormat::Csv},
        {"/tmp/list.txt", ListFormat::Json, ListFormat::Json},
        {"json", ListFormat::Csv, ListFormat::Csv},
        // Only letters have a case: a control character that differs from '.' by that bit is no '.'.
        {"/tmp/list\x0Ejson", ListFormat::Csv, ListFormat::Csv},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ListFormatFor(c.path, c.chosen), c.expected) << c.path;
}
