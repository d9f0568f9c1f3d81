// Folders listed on other threads ahead of the walk: the sink gets the same calls in the
// same order, on the walking thread, as when the walker lists each folder itself, whatever
// the threads do first. The hooks hold a listing thread, the walker (in its sink) or both,
// to force the orders that matter.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_dir_test.h"
#include "support/waits.h"
#include "walk/walk.h"

namespace {

using CX::Testing::Deadline;

// The sink and the hooks in one, with one lock: what happened, and what is held.
class Stage : public CX::Walk::IWalkSink, public CX::Walk::IWalkAheadHooks {
public:
    void File(const std::string& name, const std::string& openPath, std::uint64_t size) override {
        Record("F " + name + " " + openPath + " " + std::to_string(size));
        std::unique_lock<std::mutex> lock(m_lock);
        m_changed.wait(lock, [&] { return HeldSink != name; });
    }
    void Problem(const std::string& name, const char* reason) override {
        Record("P " + name + ": " + reason);
    }
    void Skipped(const std::string& name, const char* reason) override {
        Record("S " + name + ": " + reason);
    }
    void Listing(const std::string& openPath, bool byWalker) override {
        if (OnListing) {
            OnListing(openPath);
        }
        std::unique_lock<std::mutex> lock(m_lock);
        (byWalker ? ListedByWalker : ListedByOthers).insert(openPath);
        m_changed.notify_all();
        m_changed.wait(lock, [&] { return HeldListing.count(openPath) == 0; });
    }
    void Listed(const std::string& openPath, bool, std::size_t ahead) override {
        const std::lock_guard<std::mutex> guard(m_lock);
        Ready.insert(openPath);
        MostAhead = std::max(MostAhead, ahead);
        m_changed.notify_all();
    }
    void Awaiting(const std::string& openPath) override {
        const std::lock_guard<std::mutex> guard(m_lock);
        Awaited.insert(openPath);
        m_changed.notify_all();
    }
    void WindowFull(std::size_t ahead) override {
        const std::lock_guard<std::mutex> guard(m_lock);
        ++Full;
        MostAhead = std::max(MostAhead, ahead);
        m_changed.notify_all();
    }

    // Waits, under the deadline, for what the test needs; false if it never came.
    bool WaitFor(const std::function<bool()>& ready) {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_changed.wait_for(lock, Deadline, ready);
    }
    // Changes what is held, under the lock.
    void Change(const std::function<void()>& change) {
        const std::lock_guard<std::mutex> guard(m_lock);
        change();
        m_changed.notify_all();
    }

    std::vector<std::string> Calls;
    std::string HeldSink;               // the walker stops in File for this name
    std::set<std::string> HeldListing;  // listings held before they start
    std::function<void(const std::string&)> OnListing;
    std::set<std::string> ListedByWalker, ListedByOthers, Awaited;
    std::set<std::string> Ready;  // listed ahead of the walker
    std::size_t Full = 0, MostAhead = 0;
    std::thread::id Walker;

private:
    void Record(const std::string& call) {
        const std::lock_guard<std::mutex> guard(m_lock);
        Calls.push_back(std::this_thread::get_id() == Walker ? call : "elsewhere: " + call);
        m_changed.notify_all();
    }
    std::mutex m_lock;
    std::condition_variable m_changed;
};

class WalkAhead : public CX::Testing::TempDirTest {
protected:
    std::string Root() const { return reinterpret_cast<const char*>(m_dir.u8string().c_str()); }
    // The name is UTF-8 on every system, as Write takes it (not the ANSI code page's).
    void Folder(const std::string& name) {
        std::filesystem::create_directories(m_dir / std::filesystem::u8path(name));
    }

    // The calls of a walk whose folders are each listed as they are entered.
    std::vector<std::string> Alone() {
        Stage stage;
        stage.Walker = std::this_thread::get_id();
        CX::Walk::TreeWalker walker(false, true);
        walker.Walk("T", Root(), stage);
        return stage.Calls;
    }
    // Starts a walk of the tree on a thread of its own.
    std::thread Start(Stage& stage, CX::Walk::TreeWalker& walker) {
        std::thread thread([&stage, &walker, this] {
            stage.Change([&] { stage.Walker = std::this_thread::get_id(); });
            walker.Walk("T", Root(), stage);
        });
        return thread;
    }
    std::string At(const std::string& name) const { return Root() + "/" + name; }
};

// The walker reaches a folder whose listing a listing thread holds: it lists the folders
// after it meanwhile, then waits for it, and walks it in its place once released.
TEST_F(WalkAhead, WalkerWaitsForTheListingAThreadHolds) {
    Write("0", "x");
    for (const char* name : {"a/x", "b/y", "c/d/z"}) {
        Folder(std::filesystem::path(name).parent_path().string());
        Write(name, name);
    }
    const std::vector<std::string> expected = Alone();
    Stage stage;
    stage.HeldSink = "T/0";
    stage.HeldListing = {At("a")};
    CX::Walk::TreeWalker walker(false, true);
    walker.ListAhead(2, 8, &stage);
    std::thread thread = Start(stage, walker);
    EXPECT_TRUE(stage.WaitFor([&] { return stage.ListedByOthers.count(At("a")) == 1; }));
    stage.Change([&] { stage.HeldSink.clear(); });
    EXPECT_TRUE(stage.WaitFor([&] { return stage.Awaited.count(At("a")) == 1; }));
    // The one listing thread is held: the walker listed what came after meanwhile.
    stage.ListedByWalker.erase(Root());
    EXPECT_EQ(stage.ListedByWalker, (std::set<std::string>{At("b"), At("c"), At("c/d")}));
    stage.Change([&] { stage.HeldListing.clear(); });
    thread.join();
    walker.ListAhead(1);  // its listing threads ended: none is in a hook now
    EXPECT_EQ(stage.Calls, expected);
}

// The walker stopped in its sink: the listing threads fill the window and no more, and
// sleep until it walks on.
TEST_F(WalkAhead, ListingsHeldAheadStayWithinTheWindow) {
    Write("0", "x");
    for (int i = 0; i < 12; ++i) {
        Folder("f" + std::to_string(i) + "/g");
        Write("f" + std::to_string(i) + "/g/h", std::to_string(i));
    }
    const std::vector<std::string> expected = Alone();
    Stage stage;
    stage.HeldSink = "T/0";
    CX::Walk::TreeWalker walker(false, true);
    walker.ListAhead(3, 3, &stage);
    std::thread thread = Start(stage, walker);
    // The walker may have had its first folder from a listing thread.
    EXPECT_TRUE(stage.WaitFor(
        [&] { return stage.Ready.size() - stage.Ready.count(Root()) == 3 && stage.Full > 0; }));
    stage.Change([&] {
        EXPECT_EQ(stage.ListedByOthers.size() - stage.ListedByOthers.count(Root()), 3u);
        stage.HeldSink.clear();
    });
    thread.join();
    walker.ListAhead(1);  // its listing threads ended: none is in a hook now
    EXPECT_EQ(stage.Calls, expected);
    EXPECT_LE(stage.MostAhead, 3u);
    EXPECT_EQ(stage.ListedByOthers.size() + stage.ListedByWalker.size(), 25u);
}

// A folder gone by the time it is listed is reported where the walker reaches it, whether
// a listing thread or the walker itself found it gone.
TEST_F(WalkAhead, FailedListingReportedInItsPlace) {
    for (const bool byWalker : {false, true}) {
        SCOPED_TRACE(byWalker ? "listed by the walker" : "listed by a listing thread");
        std::filesystem::remove_all(m_dir);
        for (const char* name : {"a/x", "b/y", "c/z"}) {
            Folder(std::filesystem::path(name).parent_path().string());
            Write(name, "1");
        }
        Write("0", "x");
        Stage stage;
        stage.HeldSink = "T/0";
        stage.OnListing = [&](const std::string& openPath) {
            if (openPath == At("b")) {
                std::filesystem::remove_all(m_dir / "b");
            }
        };
        if (byWalker) {
            stage.HeldListing = {At("a")};
        }
        CX::Walk::TreeWalker walker(false, true);
        walker.ListAhead(2, 8, &stage);
        std::thread thread = Start(stage, walker);
        EXPECT_TRUE(stage.WaitFor([&] { return stage.ListedByOthers.count(At("a")) == 1; }));
        if (!byWalker) {
            EXPECT_TRUE(stage.WaitFor([&] { return stage.ListedByOthers.count(At("b")) == 1; }));
        }
        stage.Change([&] { stage.HeldSink.clear(); });
        if (byWalker) {
            EXPECT_TRUE(stage.WaitFor([&] { return stage.Awaited.count(At("a")) == 1; }));
            stage.Change([&] { stage.HeldListing.clear(); });
        }
        thread.join();
        walker.ListAhead(1);  // its listing threads ended: none is in a hook now
        EXPECT_EQ(stage.ListedByWalker.count(At("b")), byWalker ? 1u : 0u);
        EXPECT_EQ(stage.Calls,
                  (std::vector<std::string>{
                      "F T/0 " + At("0") + " 1", "F T/a/x " + At("a/x") + " 1",
                      "P T/b: No such file or directory", "F T/c/z " + At("c/z") + " 1"}));
    }
}

// A tree of uneven depth and width, with empty folders: every count of threads and every
// window give the calls of the walk alone, walk after walk with one walker.
TEST_F(WalkAhead, AnyThreadsAndWindowGiveTheCallsOfOne) {
    std::mt19937 random(2024);
    std::vector<std::string> folders = {""};
    for (int i = 0; i < 120; ++i) {
        const std::string parent = folders[random() % folders.size()];
        const std::string folder = parent + (parent.empty() ? "" : "/") + "d" +
                                   std::to_string(random() % 1000) + "\xC3\xA9";
        Folder(folder);
        folders.push_back(folder);
        for (unsigned f = random() % 4; f > 0; --f) {
            Write(folder + "/f" + std::to_string(random() % 100), Bytes(static_cast<int>(f)));
        }
    }
    const std::vector<std::string> expected = Alone();
    ASSERT_GT(expected.size(), 100u);
    for (const unsigned threads : {2u, 3u, 5u}) {
        for (const std::size_t window : {1u, 2u, 64u}) {
            Stage stage;
            CX::Walk::TreeWalker walker(false, true);
            walker.ListAhead(threads, window, &stage);
            for (int walk = 0; walk < 2; ++walk) {
                stage.Calls.clear();
                std::thread thread = Start(stage, walker);
                thread.join();
                EXPECT_EQ(stage.Calls, expected) << threads << " threads, window " << window;
            }
            walker.ListAhead(1);  // its listing threads ended: none is in a hook now
            EXPECT_LE(stage.MostAhead, window);
        }
    }
}

}  // namespace
