// Whether the automation channel may open: always in a development build, in
// the installed package only on the command line's request and only where
// the administrator has created the root-owned gate file.
#include "app/client/VLAutomationGate.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

using namespace KwLib;
namespace fs = std::filesystem;

namespace {

// A folder of the test's own below /tmp (which anybody may write to).
struct TempFolder {
    TempFolder() {
        char pattern[] = "/tmp/vlgate-XXXXXX";
        path = mkdtemp(pattern);
    }
    ~TempFolder() { fs::remove_all(path); }
    std::string path;
};

bool Enabled(const std::string& path, std::string* why = nullptr) {
    return VLAutomationGate::AdministratorEnabled(path, why);
}

}  // namespace

TEST(VLAutomationGate, OnlyARootOwnedFileInFoldersOnlyRootMayChangeEnablesIt) {
    // A file of root's in folders of root's that nobody else may write to.
    ASSERT_TRUE(Enabled("/etc/passwd")) << "this test needs a root-owned /etc/passwd";
    std::string why;
    EXPECT_FALSE(Enabled("/etc/virelo-student-test-missing/automation", &why));
    EXPECT_NE(why.find("does not exist"), std::string::npos) << why;
    EXPECT_FALSE(Enabled("/etc", &why));
    EXPECT_NE(why.find("not a regular file"), std::string::npos) << why;
    EXPECT_FALSE(Enabled("etc/passwd"));
    EXPECT_FALSE(Enabled(""));

    TempFolder dir;
    // A link to a root-owned file is not the file.
    const std::string link = dir.path + "/link";
    fs::create_symlink("/etc/passwd", link);
    EXPECT_FALSE(Enabled(link, &why));
    EXPECT_NE(why.find("not a regular file"), std::string::npos) << why;

    // A student's own file at the gate's name.
    const std::string own = dir.path + "/automation";
    std::ofstream(own) << "on\n";
    if (geteuid() == 0) {
        ASSERT_EQ(chown(own.c_str(), 65534, 65534), 0);  // as a student's account would own it
    }
    EXPECT_FALSE(Enabled(own, &why));
    EXPECT_NE(why.find(own + " is not owned by root"), std::string::npos) << why;

    if (geteuid() == 0) {
        // Root's file, but in /tmp, where anybody may swap names: refused for the folder.
        ASSERT_EQ(chown(own.c_str(), 0, 0), 0);
        chmod(own.c_str(), 0644);
        EXPECT_FALSE(Enabled(own, &why));
        EXPECT_NE(why.find("/tmp is not owned by root and closed to others"), std::string::npos) << why;
        // In the build folder, root's own when the tests run as root: the
        // file and its folder must be closed to others.
        const std::string folder = std::string(VL_BINARY_DIR) + "/gate-test-" + std::to_string(getpid());
        fs::create_directories(folder);
        chmod(folder.c_str(), 0755);
        const std::string gate = folder + "/automation";
        std::ofstream(gate) << "on\n";
        chmod(gate.c_str(), 0644);
        if (Enabled(gate, &why)) {
            chmod(gate.c_str(), 0664);
            EXPECT_FALSE(Enabled(gate));
            chmod(gate.c_str(), 0644);
            chmod(folder.c_str(), 0777);
            EXPECT_FALSE(Enabled(gate, &why));
            EXPECT_NE(why.find(folder + " is not owned by root"), std::string::npos) << why;
        }
        fs::remove_all(folder);
    }
}

TEST(VLAutomationGate, DevelopmentBuildsOpenItForEveryScriptThePackageOnlyWhereEnabled) {
    const VLAutomationPolicy development{true, "/nonexistent/automation"};
    auto d = VLAutomationGate::Decide(true, "/run/a.sock", "/run/b.sock", development);
    EXPECT_EQ(d.socket, "/run/a.sock");
    EXPECT_TRUE(d.refusal.empty());
    EXPECT_EQ(VLAutomationGate::Decide(false, "", "/run/b.sock", development).socket, "/run/b.sock");
    EXPECT_EQ(VLAutomationGate::Decide(true, "", "/run/b.sock", development).socket, "/run/b.sock");
    EXPECT_EQ(VLAutomationGate::Decide(false, "", "", development).socket, "");

    const VLAutomationPolicy package{false, "/nonexistent/automation"};
    // The environment is never read, so nothing a page's start or a session sets opens it.
    d = VLAutomationGate::Decide(false, "", "/run/b.sock", package);
    EXPECT_EQ(d.socket, "");
    EXPECT_TRUE(d.refusal.empty());
    EXPECT_TRUE(d.ignoredEnvironment);
    EXPECT_FALSE(VLAutomationGate::Decide(false, "", "", package).ignoredEnvironment);
    // The flag is refused, and the refusal says how an administrator enables it.
    d = VLAutomationGate::Decide(true, "/run/a.sock", "", package);
    EXPECT_EQ(d.socket, "");
    EXPECT_NE(d.refusal.find("the automation channel is off in this installation"), std::string::npos);
    EXPECT_NE(d.refusal.find("/nonexistent/automation"), std::string::npos) << d.refusal;

    // Where the administrator's file is there (a root-owned file stands in).
    const VLAutomationPolicy rehearsal{false, "/etc/passwd"};
    d = VLAutomationGate::Decide(true, "/run/a.sock", "/run/b.sock", rehearsal);
    EXPECT_EQ(d.socket, "/run/a.sock");
    EXPECT_TRUE(d.refusal.empty());
    EXPECT_EQ(VLAutomationGate::Decide(false, "", "/run/b.sock", rehearsal).socket, "");
    EXPECT_FALSE(VLAutomationGate::Decide(true, "", "", rehearsal).refusal.empty());
}
