// The application object: the language of the first start, the dialog cycle with its restart in
// a newly chosen language, the start-up failures, the second start, and the answer pump that
// hands received datagrams to the dialog from a thread of its own.

#include "app/QarnTeskConverterConfigApp.h"

#include "support/TempDir.h"

#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include <QApplication>
#include <QSettings>
#include <QWidget>
#include <gtest/gtest.h>

namespace qarn {
namespace {

namespace fs = std::filesystem;

// Sets an environment variable for the life of the object, then restores what was there.
class ScopedEnvironment {
  public:
    ScopedEnvironment(const char* name, const std::string& value) : m_name(name) {
        if (const char* previous = std::getenv(name))
            m_previous = previous;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnvironment() {
        if (m_previous)
            setenv(m_name, m_previous->c_str(), 1);
        else
            unsetenv(m_name);
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  private:
    const char* m_name;
    std::optional<std::string> m_previous;
};

// A dialog that ends at once with a given result, after doing what a user would have done.
class FakeDialog : public IMainDialog {
  public:
    FakeDialog(int result, std::function<void()> whileRunning)
        : m_result(result), m_whileRunning(std::move(whileRunning)) {}

    int RunModal() override {
        if (m_whileRunning)
            m_whileRunning();
        return m_result;
    }
    QWidget* Window() override { return &m_window; }
    void AnswersWaiting() override {
        std::lock_guard<std::mutex> lock(m_lock);
        m_threads.push_back(std::this_thread::get_id());
        m_changed.notify_all();
    }
    bool WaitForCalls(size_t count) {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_changed.wait_for(lock, std::chrono::seconds(5),
                                  [&] { return m_threads.size() >= count; });
    }
    std::vector<std::thread::id> Threads() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_threads;
    }

  private:
    int m_result;
    std::function<void()> m_whileRunning;
    QWidget m_window;
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<std::thread::id> m_threads;
};

class ApplicationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (QCoreApplication::instance() == nullptr) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
            static int argc = 1;
            static char name[] = "qarn_app_tests";
            static char* argv[] = {name, nullptr};
            new QApplication(argc, argv); // kept to the end of the process
        }
        fs::create_directories(m_temp / "run");
        fs::permissions(m_temp / "run", fs::perms::owner_all, fs::perm_options::replace);
        fs::create_directories(m_temp / "appdata");
        fs::create_directories(m_temp / "empty");
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QString::fromStdString((m_temp / "settings").string()));
    }

    std::unique_ptr<QarnTeskConverterConfigApp>
    MakeApp(const std::string& folder = QARN_BUNDLE_DIR) {
        auto app = std::make_unique<QarnTeskConverterConfigApp>(m_name, folder);
        app->SetFailureReporter([this](const std::string& text) { m_failures.push_back(text); });
        return app;
    }

    // The name keeps this test's copy apart from every other process's.
    const std::string m_name = "qarn-app-test-" + std::to_string(getpid());
    test::TempDir m_temp{"qarn-app"};
    test::ScopedRegistryRoot m_store{m_temp}; // no diagnostics settings: no log, no dumps
    ScopedEnvironment m_runtime{"XDG_RUNTIME_DIR", (m_temp / "run").string()};
    ScopedEnvironment m_appData{"QARN_COMMON_APPDATA", (m_temp / "appdata").string()};
    ScopedEnvironment m_locale{"LC_ALL", "de_DE.UTF-8"};
    std::vector<std::string> m_failures;
};

TEST_F(ApplicationTest, TheFirstStartTakesTheUsersLanguageAndStoresIt) {
    auto app = MakeApp();
    EXPECT_EQ(app->ReadStoredLanguage(), "");
    int dialogs = 0;
    std::string loaded;
    const int status = app->InitInstance([&](QarnTeskConverterConfigApp& owner) {
        ++dialogs;
        loaded = owner.Resources().LanguageCode();
        return std::make_unique<FakeDialog>(0, nullptr);
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(dialogs, 1);
    EXPECT_EQ(loaded, "DEU");
    EXPECT_EQ(app->ReadStoredLanguage(), "DEU");
    EXPECT_FALSE(app->Resources().IsLoaded()) << "let go after the dialog";
    EXPECT_TRUE(m_failures.empty());
}

TEST_F(ApplicationTest, AnotherLanguageRunsANewDialogInThatLanguage) {
    auto app = MakeApp();
    std::vector<std::string> languages;
    const int status = app->InitInstance([&](QarnTeskConverterConfigApp& owner) {
        languages.push_back(owner.Language() + "/" + owner.Resources().LanguageCode());
        if (languages.size() == 1)
            return std::make_unique<FakeDialog>(IMainDialog::kRestartResult,
                                                [&owner] { owner.StoreLanguage("RUS"); });
        return std::make_unique<FakeDialog>(0, nullptr);
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(languages, (std::vector<std::string>{"DEU/DEU", "RUS/RUS"}));
    EXPECT_EQ(app->ReadStoredLanguage(), "RUS");
}

TEST_F(ApplicationTest, WithoutALanguageBundleTheProgramSaysSoAndEnds) {
    auto app = MakeApp((m_temp / "empty").string());
    bool made = false;
    const int status = app->InitInstance([&](QarnTeskConverterConfigApp&) {
        made = true;
        return std::make_unique<FakeDialog>(0, nullptr);
    });
    EXPECT_EQ(status, 1);
    EXPECT_FALSE(made);
    EXPECT_EQ(m_failures, (std::vector<std::string>{"ResourceDll is missing!"}));
}

TEST_F(ApplicationTest, ADialogThatCannotBeBuiltEndsTheProgram) {
    auto app = MakeApp();
    const int status = app->InitInstance(
        [](QarnTeskConverterConfigApp&) { return std::unique_ptr<IMainDialog>(); });
    EXPECT_EQ(status, 1);
    EXPECT_EQ(m_failures, (std::vector<std::string>{"ResourceDll is missing!"}));
    EXPECT_FALSE(app->Resources().IsLoaded());
}

TEST_F(ApplicationTest, ASecondStartAsksTheFirstCopyForwardAndEnds) {
    CInstanceHandler first;
    ASSERT_TRUE(first.Initialize(m_name));
    ASSERT_FALSE(first.IsAnotherInstanceRunning());
    ASSERT_TRUE(first.RegisterInstance());
    QWidget firstWindow;
    first.SetMainWindow(&firstWindow);

    auto app = MakeApp();
    bool made = false;
    const int status = app->InitInstance([&](QarnTeskConverterConfigApp&) {
        made = true;
        return std::make_unique<FakeDialog>(0, nullptr);
    });
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(made) << "no second window";
    EXPECT_TRUE(m_failures.empty());
}

TEST_F(ApplicationTest, ThePumpCallsTheDialogFromItsOwnThreadUntilTheDialogLetsGo) {
    auto app = MakeApp();
    FakeDialog dialog(0, nullptr);
    app->AttachDialog(&dialog);
    EXPECT_TRUE(app->IsRunning());
    EXPECT_EQ(app->GetName(), "QarnTeskConverterConfigApp");
    ASSERT_TRUE(dialog.WaitForCalls(3)) << "every 50 ms";
    for (const std::thread::id& thread : dialog.Threads())
        EXPECT_NE(thread, std::this_thread::get_id());

    app->AttachDialog(nullptr);
    EXPECT_FALSE(app->IsRunning());
    const size_t calls = dialog.Threads().size();
    std::this_thread::sleep_for(
        std::chrono::milliseconds(3 * QarnTeskConverterConfigApp::kPumpWaitMs));
    EXPECT_EQ(dialog.Threads().size(), calls) << "nothing after the dialog let go";
}

} // namespace
} // namespace qarn
