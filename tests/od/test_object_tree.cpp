// The object tree page on its own: which file it reads, what a click and a
// right-button press show.
#include "DialogSDO.h"
#include "EDS_unit.h"
#include "eds_tree_model.h"
#include "tree_clicks.h"

#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTreeView>
#include <gtest/gtest.h>

#include <fstream>

namespace {

class FakeOpenDialog final : public EdsOpenDialog {
public:
    QString name;
    QString pick; // empty: the user cancels
    int executed = 0;

    QString FileName() const override { return name; }
    bool Execute() override
    {
        ++executed;
        if (pick.isEmpty())
            return false;
        name = pick;
        return true;
    }
};

// Object sections of a file, counted line by line: a second reading of the
// file, independent of the reader.
int ObjectSections(const char* path)
{
    std::ifstream in(path);
    int count = 0;
    for (std::string line; std::getline(in, line);) {
        std::string upper = line;
        for (char& c : upper)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        count += !line.empty() && line[0] == '[' && upper.find("SUB") == std::string::npos;
    }
    return count;
}

struct LoadCase {
    const char* name;
    bool defaultThere;
    const char* pick; // the file the user picks, "" to cancel
    int executed;
    bool loaded;
};

class LoadEds : public ::testing::TestWithParam<LoadCase> {};

TEST_P(LoadEds, ReadsTheDefaultFileOrAsksForOne)
{
    const LoadCase& c = GetParam();
    QTemporaryDir dir;
    QFile source(QStringLiteral(TERVIX_EXAMPLES_DIR "/Quorbit.eds"));
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    const QByteArray text = source.readAll();
    if (c.defaultThere)
        WriteFile(dir.filePath(QStringLiteral("Quorbit.eds")), text);
    WriteFile(dir.filePath(QStringLiteral("picked.EDS")), text);

    QWidget sheet;
    auto* page = new TServiceObjects(&sheet);
    FakeOpenDialog dialog;
    dialog.name = dir.filePath(QStringLiteral("Quorbit.eds"));
    if (*c.pick)
        dialog.pick = dir.filePath(QString::fromLatin1(c.pick));
    page->LoadEDS(&dialog);

    EXPECT_EQ(dialog.executed, c.executed);
    const QModelIndex root = page->Model()->RootIndex();
    EXPECT_EQ(page->Model()->rowCount({}), 1);
    EXPECT_EQ(root.data().toString(), "Electronic data sheet");
    EXPECT_EQ(page->Model()->rowCount(root),
              c.loaded ? ObjectSections(TERVIX_EXAMPLES_DIR "/Quorbit.eds") : 0);
    EXPECT_TRUE(page->TreeView()->isExpanded(root));
    if (c.loaded) {
        // One level only: objects show, their sub-objects stay folded.
        const QModelIndexList found = page->Model()->match(page->Model()->index(0, 0, root), Qt::DisplayRole,
                                                           "[1018]", 1, Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1);
        const QModelIndex identity = found.first();
        EXPECT_EQ(page->Model()->rowCount(identity), 5);
        EXPECT_FALSE(page->TreeView()->isExpanded(identity));
    }
}

INSTANTIATE_TEST_SUITE_P(Files, LoadEds,
                         ::testing::Values(LoadCase{"Default", true, "", 0, true},
                                           LoadCase{"PickedWhenDefaultMissing", false, "picked.EDS", 1, true},
                                           LoadCase{"Cancelled", false, "", 1, false},
                                           LoadCase{"PickedFileMissing", false, "gone.eds", 1, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// A node shows the section's name as the file spells it; its tooltip is the
// section's ParameterName (a vendor's Windows-1252 file; the encoding rule
// itself is the configuration reader's table).
struct TooltipCase {
    const char* name;
    QByteArray bytes;
    const char* section; // UTF-8
    QString text;
    QString tooltip; // empty: none
};

class TreeTooltip : public ::testing::TestWithParam<TooltipCase> {};

TEST_P(TreeTooltip, IsTheParameterName)
{
    const TooltipCase& c = GetParam();
    QTemporaryDir dir;
    WriteFile(dir.filePath(QStringLiteral("unit.eds")), c.bytes);
    QWidget sheet;
    auto* page = new TServiceObjects(&sheet);
    FakeOpenDialog dialog;
    dialog.name = dir.filePath(QStringLiteral("unit.eds"));
    page->LoadEDS(&dialog);

    const EdsTreeModel* model = page->Model();
    EXPECT_FALSE(model->RootIndex().data(Qt::ToolTipRole).isValid());
    QModelIndex index;
    for (std::size_t i = 0; i < model->NodeCount(); ++i)
        if (model->Tree()->Nodes()[i].name == c.section)
            index = model->IndexOfNode(i);
    ASSERT_TRUE(index.isValid());
    EXPECT_EQ(index.data().toString(), c.text);
    const QVariant tooltip = index.data(Qt::ToolTipRole);
    EXPECT_EQ(tooltip.isValid(), !c.tooltip.isEmpty());
    EXPECT_EQ(tooltip.toString(), c.tooltip);
}

INSTANTIATE_TEST_SUITE_P(Files, TreeTooltip,
                         ::testing::Values(TooltipCase{"Windows1252",
                                                       "[6000]\r\nParameterName=Temp \xB0"
                                                       "C\r\n",
                                                       "6000", "[6000]", QStringLiteral(u"Temp \u00B0C")},
                                           TooltipCase{"NoParameterName", "[6000]\nDataType=0x0007\n", "6000",
                                                       "[6000]", ""}),
                         [](const auto& info) { return std::string(info.param.name); });

constexpr char kSmallEds[] = "; Not a section line\n"
                             "[FileInfo]\n"
                             "FileName=small.eds\n"
                             "\n"
                             "[1000]\r\n"
                             "[1018]\r"
                             "ObjectType=0x9\n"
                             "[1018sub0]\n"
                             "[1018sub1] ; vendor\n"
                             "  ; indented, so kept\n"
                             "DataType=0x0007\n";

enum class Act { Click, KeyDown, RightClick };

struct TreeCase {
    const char* name;
    const char* before; // left-clicked first ("" nothing)
    Act act;
    const char* target;
    const char* memo;
    const char* caption;  // of the SDO dialog, nullptr while it stays hidden
    const char* selected; // afterwards
};

class TreePage : public ::testing::TestWithParam<TreeCase> {};

TEST_P(TreePage, ClickListsLinesRightButtonOpensTheDialog)
{
    const TreeCase& c = GetParam();
    QTemporaryDir dir;
    WriteFile(dir.filePath(QStringLiteral("small.eds")), kSmallEds);
    QWidget sheet;
    sheet.resize(300, 600);
    auto* page = new TServiceObjects(&sheet);
    TDialogFormSDO sdo;
    page->SetSdoDialog(&sdo);
    FakeOpenDialog dialog;
    dialog.name = dir.filePath(QStringLiteral("small.eds"));
    page->LoadEDS(&dialog);
    sheet.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&sheet));

    if (*c.before)
        ClickSection(*page, c.before);
    switch (c.act) {
    case Act::Click: ClickSection(*page, c.target); break;
    case Act::KeyDown: QTest::keyClick(page->TreeView(), Qt::Key_Down); break;
    case Act::RightClick: ClickSection(*page, c.target, Qt::RightButton); break;
    }

    EXPECT_EQ(page->Memo()->toPlainText().toStdString(), c.memo);
    EXPECT_EQ(sdo.isVisible(), c.caption != nullptr);
    if (c.caption) {
        EXPECT_EQ(sdo.windowTitle().toStdString(), c.caption);
    }
    const QModelIndexList selected = page->TreeView()->selectionModel()->selectedIndexes();
    EXPECT_EQ(selected.isEmpty() ? std::string() : selected.first().data().toString().toStdString(),
              c.selected);
}

INSTANTIATE_TEST_SUITE_P(
    Actions, TreePage,
    ::testing::Values(
        TreeCase{"ClickSubObject", "", Act::Click, "1018sub1", " \n   ; indented, so kept\n DataType=0x0007",
                 nullptr, "[1018sub1]"},
        TreeCase{"ClickSectionWithoutLines", "", Act::Click, "1000", " ", nullptr, "[1000]"},
        TreeCase{"ClickRoot", "1018", Act::Click, "root", " ", nullptr, "Electronic data sheet"},
        TreeCase{"KeyMovesAndLists", "1000", Act::KeyDown, "", " \n ObjectType=0x9", nullptr, "[1018]"},
        TreeCase{"RightButtonAddsAddressKeepsSelection", "1018", Act::RightClick, "1018sub1",
                 " \n ObjectType=0x9\n 10180001", "Service Data Object - [1018sub1]", "[1018]"},
        TreeCase{"RightButtonOnRoot", "FileInfo", Act::RightClick, "root", " \n FileName=small.eds\nno node",
                 nullptr, "[FileInfo]"},
        TreeCase{"RightButtonOnEmptySpace", "1000", Act::RightClick, "empty", " ", nullptr, "[1000]"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
