// Checks every language bundle that the build produced, through the same lookups the program
// uses: complete string tables whose format strings fit the program's arguments, a main dialog
// template with every control, the icon and both cursors.

#include "app/LanguageCodes.h"
#include "app/QarnPlonResourceHelper.h"
#include "app/Resources.h"

#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QPixmap>
#include <QTableView>
#include <gtest/gtest.h>

namespace qarn {
namespace {

namespace fs = std::filesystem;

// Every string id the program loads.
constexpr unsigned kRequiredIds[] = {
    733,   1066,  2002,  2102,  2103,  2106,  2107,  2108,  2110,  2111,  2112,  2113,
    2114,  2115,  2116,  2437,  2438,  2439,  3736,  3739,  3740,  3741,  3742,  3743,
    3744,  16000, 16001, 16002, 16004, 16006, 16016, 16017, 16020, 16022, 16023, 16030,
    16031, 16032, 16033, 16034, 16038, 16039, 16040, 16041, 16042, 16043, 16044, 16045,
    16046, 16047, 16048, 16049, 16052, 16053, 16077, 16078, 16080};

// The controls of the main dialog and the widget class each must be (or derive from).
struct Control {
    unsigned id;
    const char* kind;
};
constexpr Control kMainDialogControls[] = {
    {1, "QPushButton"},   {2, "QPushButton"}, {385, "QPushButton"},
    {396, "QPushButton"}, {388, "QFrame"},    {344, "QTableView"},
    {21018, "QWidget"},   {1114, "QLabel"},   {33783, "QLabel"},
};
constexpr unsigned kMainDialog = 15008;
constexpr unsigned kIcon = 159;
constexpr unsigned kCursors[] = {142, 143};

// Widgets need a QApplication, and a pixmap a GUI one; one for the whole test program, on the
// offscreen platform so that no display is needed. Kept to the end of the process on purpose.
void EnsureApplication() {
    if (QCoreApplication::instance() != nullptr)
        return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "qarn_app_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* application = new QApplication(argc, argv);
    (void)application;
}

std::string BundlePath(const std::string& code) {
    return (fs::path(QARN_BUNDLE_DIR) / ("qarnres_" + code + ".rcc")).string();
}

class BundleTest : public ::testing::TestWithParam<std::string> {
  protected:
    static void SetUpTestSuite() {
        EnsureApplication();
        // The conversions of the English texts are the ones the program's arguments fit.
        QarnPlonResourceHelper english(QARN_BUNDLE_DIR);
        if (!english.LoadLibraryFile(BundlePath("ENU")))
            return;
        for (const unsigned id : kRequiredIds)
            s_englishPlaceholders[id] = FormatPlaceholders(ResourceString(id));
    }

    void SetUp() override {
        if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr)
            GTEST_SKIP() << "another test made a non-widget application object first";
        ASSERT_TRUE(fs::exists(BundlePath(GetParam())))
            << BundlePath(GetParam()) << " missing: build the target qarn_resources";
        ASSERT_TRUE(m_helper.Load(GetParam()));
        ASSERT_EQ(m_helper.LanguageCode(), GetParam()) << "a fallback bundle was loaded";
        ASSERT_FALSE(s_englishPlaceholders.empty()) << "the English bundle did not load";
    }

    QarnPlonResourceHelper m_helper{QARN_BUNDLE_DIR};
    static inline std::map<unsigned, QStringList> s_englishPlaceholders;
};

TEST_P(BundleTest, StringTableIsCompleteAndFitsTheArguments) {
    for (const unsigned id : kRequiredIds) {
        SCOPED_TRACE("string " + std::to_string(id));
        const QString text = ResourceString(id);
        EXPECT_FALSE(text.trimmed().isEmpty());
        EXPECT_EQ(FormatPlaceholders(text), s_englishPlaceholders[id]) << text.toStdString();
    }
    // The progress bar puts the percentage right after this text: "...: 42%".
    EXPECT_TRUE(ResourceString(733).endsWith(u' ')) << ResourceString(733).toStdString();
    EXPECT_EQ(FormatPlaceholders(ResourceString(2002)), QStringList{"%s"});
    EXPECT_EQ(FormatPlaceholders(ResourceString(16031)), QStringList{"%s"});
}

TEST_P(BundleTest, MainDialogTemplateHoldsEveryControl) {
    const std::unique_ptr<QWidget> dialog(LoadDialogTemplate(kMainDialog));
    ASSERT_NE(dialog, nullptr);
    EXPECT_NE(qobject_cast<QDialog*>(dialog.get()), nullptr);
    EXPECT_FALSE(dialog->windowTitle().isEmpty());
    for (const Control& control : kMainDialogControls) {
        SCOPED_TRACE("control " + std::to_string(control.id));
        const QWidget* widget = FindControl(dialog.get(), control.id);
        ASSERT_NE(widget, nullptr);
        EXPECT_TRUE(widget->inherits(control.kind)) << widget->metaObject()->className();
    }
    // Every caption the template names is filled in; the manual-entry button keeps its own.
    // (The list's corner button is the list's own, without a caption.)
    for (const QAbstractButton* button : dialog->findChildren<QAbstractButton*>()) {
        if (!button->objectName().startsWith(QStringLiteral("ctl_")))
            continue;
        SCOPED_TRACE(button->objectName().toStdString());
        EXPECT_FALSE(button->text().isEmpty());
        EXPECT_FALSE(button->text().contains(u'@'));
    }
    for (const QLabel* label : dialog->findChildren<QLabel*>())
        EXPECT_FALSE(label->text().isEmpty() || label->text().contains(u'@'))
            << label->objectName().toStdString();
    // The program makes the progress bar as its own class; a plain loader makes the class it
    // extends.
    const auto* progress = FindControl(dialog.get(), 388);
    ASSERT_NE(progress, nullptr);
    EXPECT_TRUE(progress->inherits("QFrame"));
}

TEST_P(BundleTest, IconAndCursorsLoad) {
    const QIcon icon = ResourceIcon(kIcon);
    ASSERT_FALSE(icon.isNull());
    for (const int size : {16, 32, 48}) {
        const QPixmap pixmap = icon.pixmap(size, size);
        EXPECT_EQ(pixmap.size(), QSize(size, size)) << size;
    }
    for (const unsigned id : kCursors) {
        SCOPED_TRACE("cursor " + std::to_string(id));
        const std::optional<QCursor> cursor = ResourceCursor(id);
        ASSERT_TRUE(cursor.has_value());
        const QPixmap image = cursor->pixmap();
        EXPECT_EQ(image.size(), QSize(32, 32));
        const std::optional<QPoint> hotSpot = ResourceCursorHotSpot(id);
        ASSERT_TRUE(hotSpot.has_value());
        EXPECT_EQ(cursor->hotSpot(), *hotSpot);
        EXPECT_TRUE(image.rect().contains(*hotSpot)) << hotSpot->x() << "," << hotSpot->y();
    }
}

TEST_P(BundleTest, ResourcesTheBundleLacksAreEmpty) {
    EXPECT_TRUE(ResourceString(9999).isEmpty());
    EXPECT_TRUE(ResourceString(0).isEmpty());
    EXPECT_EQ(LoadDialogTemplate(9999), nullptr);
    EXPECT_TRUE(ResourceIcon(9999).isNull());
    EXPECT_FALSE(ResourceCursor(9999).has_value());
    EXPECT_FALSE(ResourceCursorHotSpot(9999).has_value());
}

INSTANTIATE_TEST_SUITE_P(EveryLanguage, BundleTest,
                         ::testing::ValuesIn(SupportedLanguages().begin(),
                                             SupportedLanguages().end()),
                         [](const auto& info) { return info.param; });

TEST(Resources, WithoutABundleEveryLookupIsEmpty) {
    EnsureApplication();
    EXPECT_TRUE(ResourceString(16016).isEmpty());
    EXPECT_EQ(LoadDialogTemplate(kMainDialog), nullptr);
    EXPECT_TRUE(ResourceIcon(kIcon).isNull());
    EXPECT_FALSE(ResourceCursor(142).has_value());
    EXPECT_EQ(FindControl(nullptr, 1), nullptr);
}

TEST(FormatPlaceholders, ListsTheConversionsInOrder) {
    struct Row {
        const char* format;
        QStringList expected;
    };
    const Row rows[] = {
        {"plain text", {}},
        {"%s of %02x%%", {"%s", "%02x"}},
        {"%d.%d.%d.%d", {"%d", "%d", "%d", "%d"}},
        {"%-8.3ls and %I64u and %*d", {"%-8.3ls", "%I64u", "%*d"}},
        {"100%", {"%"}},
        {"50% off", {"% o"}},
        {"%y", {"%y"}},
        {"%%s", {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.format);
        EXPECT_EQ(FormatPlaceholders(QString::fromUtf8(row.format)), row.expected);
    }
}

TEST(FormatText, FillsConversionsWithTheArgumentsInOrder) {
    struct Row {
        const char* format;
        QStringList arguments;
        const char* expected;
    };
    const Row rows[] = {
        {"Address %s is not valid", {"10.0.0.255"}, "Address 10.0.0.255 is not valid"},
        {"%s then %s", {"a", "b"}, "a then b"},
        {"%d%%", {"42"}, "42%"},
        {"%s and %s", {"only"}, "only and "},
        {"no conversion", {"unused"}, "no conversion"},
        {"100%", {"unused"}, "100%"},
        {"5%! (no conversion)", {"unused"}, "5%! (no conversion)"},
        {"%-8.3ls|", {"x"}, "x|"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.format);
        EXPECT_EQ(FormatText(QString::fromUtf8(row.format), row.arguments).toStdString(),
                  row.expected);
    }
}

} // namespace
} // namespace qarn
