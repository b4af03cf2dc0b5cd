// SPDX-License-Identifier: GPL-2.0-or-later
// The command-line installer, run as the built Corvix executable in a private
// mount namespace: overlays over /usr/share, /usr/bin, /usr/lib and /etc/xdg
// take every change, so the machine's own folders never see one.
#include <gtest/gtest.h>

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>

#include "app/install.h"
#include "support/sandbox.h"

namespace {

const uid_t kNobody = 65534;

const std::string kNotInstalled = "\n温馨提示：Corvix认证客户端2.0尚未安装！\n\n";
const std::string kAlreadyInstalled = "\n温馨提示：Corvix认证客户端2.0已经安装！\n\n";
const std::string kHints = "(RedHat/Fedora下使用su命令切换为root)\n(Ubuntu/Debian下在命令前添加sudo)\n\n";
const std::string kInstallNotRoot = "\n抱歉，安装本客户端程序需要root权限！\n" + kHints;
const std::string kRemoveNotRoot = "\n抱歉，删除本客户端程序需要root权限！\n" + kHints;
const std::string kInstalledByPackage =
    "\n温馨提示：Corvix认证客户端2.0已由软件包管理器安装，不再复制文件！\n"
    "(删除请使用 apt remove corvix)\n\n";
const std::string kRemovedByPackage =
    "\n温馨提示：Corvix认证客户端2.0由软件包管理器安装，本程序不删除任何文件！\n"
    "(请使用 apt remove corvix 删除)\n\n";

bool exists(const std::string &path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

void put(const std::string &path, const std::string &text, mode_t mode = 0644)
{
    std::ofstream(path) << text;
    (void)chmod(path.c_str(), mode);
}

// A package folder as it is unpacked: the executable and what ships beside it.
void make_package(ChildChecks &c, const std::string &pkg)
{
    c.setup(mkdir(pkg.c_str(), 0755) == 0, "package folder");
    std::string cp = "cp " CORVIX_BINARY_DIR "/Corvix '" + pkg + "/Corvix'";
    c.setup(std::system(cp.c_str()) == 0, "copying " CORVIX_BINARY_DIR "/Corvix");
    (void)chmod((pkg + "/Corvix").c_str(), 0711);  // chmod 4755 must be seen
    put(pkg + "/Corvix.desktop", "[Desktop Entry]\nName=Corvix\nExec=Corvix\n");
    put(pkg + "/Corvixrc", "# rc\n");
    put(pkg + "/CorvixDHCP", "#!/bin/sh\n", 0755);
    put(pkg + "/readme", "read me v1\n");
    put(pkg + "/libnimbus.so", "engine\n");
}

// Private copies of the folders the installer writes, with none of its
// traces in them, whatever the machine holds.
void isolate_system_folders(ChildChecks &c, const std::string &scratch)
{
    c.setup(mount("tmpfs", scratch.c_str(), "tmpfs", 0, "mode=0755") == 0, "tmpfs scratch");
    for (const char *dir : {"/usr/share", "/usr/bin", "/usr/lib", "/etc/xdg"})
        c.setup(mount_overlay(dir, scratch), std::string("overlay on ") + dir);
    c.setup(std::system("rm -rf /usr/share/Corvix2 /usr/bin/Corvix "
                        "/usr/share/applications/Corvix.desktop /etc/xdg/autostart/Corvix.desktop"
                        " && mkdir -p /usr/lib/gtk-2.0/2.10.0/engines /etc/xdg/autostart "
                        "/usr/share/applications") == 0,
            "clearing the installed layout");
}

// Registers a package "corvix" with dpkg that owns the installed client and its
// read-me, as the real package does (the database is under an overlay too).
void install_small_package(ChildChecks &c, const std::string &scratch)
{
    c.setup(mount_overlay("/var/lib/dpkg", scratch), "overlay on /var/lib/dpkg");
    std::string root = scratch + "/debroot";
    std::string script =
        "set -e; r='" + root + "'; mkdir -p \"$r/DEBIAN\" \"$r/usr/share/Corvix2\"\n"
        "cp " CORVIX_BINARY_DIR "/Corvix \"$r/usr/share/Corvix2/Corvix\"\n"
        "chmod 4755 \"$r/usr/share/Corvix2/Corvix\"\n"
        "echo 'read me v1' >\"$r/usr/share/Corvix2/readme\"\n"
        "printf 'Package: corvix\\nVersion: 2.0-1\\nArchitecture: all\\n"
        "Maintainer: Corvix developers <corvix@localhost>\\nDescription: test\\n' >\"$r/DEBIAN/control\"\n"
        "(cd \"$r\" && md5sum usr/share/Corvix2/Corvix usr/share/Corvix2/readme >DEBIAN/md5sums)\n"
        "dpkg-deb --root-owner-group --build \"$r\" \"$r.deb\" >/dev/null\n"
        "dpkg --log=/dev/null -i \"$r.deb\" >/dev/null\n";
    c.setup(std::system(script.c_str()) == 0, "installing a small corvix package with dpkg");
}

bool dpkg_verifies_clean()
{
    return std::system("test -z \"$(dpkg -V corvix 2>&1)\"") == 0;
}

void expect_run(ChildChecks &c, const RunResult &r, int code, const std::string &out,
                const std::string &err, const std::string &what)
{
    c.expect(r.exit_code == code, what + ": exit " + std::to_string(r.exit_code));
    c.expect(r.out == out, what + ": stdout [" + r.out + "]");
    c.expect(r.err == err, what + ": stderr [" + r.err + "]");
}

void expect_installed(ChildChecks &c)
{
    struct stat st{};
    c.expect(stat("/usr/share/Corvix2/Corvix", &st) == 0, "executable installed");
    c.expect(st.st_uid == 0 && st.st_gid == 0, "executable owned by 0:0");
    c.expect((st.st_mode & 07777) == 04755, "executable mode 4755");
    char target[256] = {};
    c.expect(readlink("/usr/bin/Corvix", target, sizeof target - 1) > 0 &&
                 std::string(target) == "/usr/share/Corvix2/Corvix",
             std::string("/usr/bin/Corvix links to the executable: ") + target);
    for (const char *f : {"/usr/share/Corvix2/Corvix.desktop", "/usr/share/Corvix2/Corvixrc",
                          "/usr/share/Corvix2/CorvixDHCP", "/usr/share/Corvix2/readme",
                          "/usr/share/applications/Corvix.desktop",
                          "/usr/lib/gtk-2.0/2.10.0/engines/libnimbus.so"})
        c.expect(exists(f), std::string("installed: ") + f);
}

void expect_removed(ChildChecks &c)
{
    for (const char *f : {"/usr/share/Corvix2", "/usr/bin/Corvix",
                          "/usr/share/applications/Corvix.desktop",
                          "/etc/xdg/autostart/Corvix.desktop"})
        c.expect(!exists(f), std::string("removed: ") + f);
    c.expect(exists("/usr/lib/gtk-2.0/2.10.0/engines/libnimbus.so"), "engine library stays");
}

class Installer : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(0u, geteuid()) << "the installer tests need root";
        ASSERT_EQ(0, access(CORVIX_BINARY_DIR "/Corvix", X_OK)) << "build the Corvix target";
        char tmpl[] = "/tmp/corvix-install-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(tmpl));
        scratch_ = tmpl;
        ASSERT_EQ(0, chmod(tmpl, 0755));
    }
    void TearDown() override { (void)rmdir(scratch_.c_str()); }

    std::string run(const std::function<void(ChildChecks &, const std::string &pkg)> &fn)
    {
        std::string scratch = scratch_;
        return run_in_child(CLONE_NEWNS, [&](ChildChecks &c) {
            isolate_system_folders(c, scratch);
            std::string pkg = scratch + "/pkg";
            make_package(c, pkg);
            fn(c, pkg);
        });
    }

    std::string scratch_;
};

TEST_F(Installer, RefusesToStartUntilInstalled)
{
    EXPECT_EQ("", run([](ChildChecks &c, const std::string &pkg) {
        expect_run(c, run_program({"./Corvix"}, pkg), 255, kNotInstalled, "", "no arguments");
        expect_run(c, run_program({"./Corvix", "-install", "extra"}, pkg), 255, kNotInstalled,
                   "", "-install with a second argument is no command");
        expect_run(c, run_program({"./Corvix", "-installx"}, pkg), 255, kNotInstalled, "",
                   "-installx");
        expect_run(c, run_program({"./Corvix", "-uninstall"}, pkg), 255, kNotInstalled, "",
                   "-uninstall when not installed");
        c.expect(!exists("/usr/share/Corvix2"), "nothing installed");
    }));
}

TEST_F(Installer, RefusesCallersWhoseRealUserIsNotRoot)
{
    EXPECT_EQ("", run([](ChildChecks &c, const std::string &pkg) {
        expect_run(c, run_program({"./Corvix", "-install"}, pkg, kNobody), 255, "",
                   kInstallNotRoot, "install as nobody");
        expect_run(c, run_program({"./Corvix", "-uninstall"}, pkg, kNobody), 255, "",
                   kRemoveNotRoot, "uninstall as nobody");
        c.expect(!exists("/usr/share/Corvix2"), "nothing installed by nobody");
    }));
}

TEST_F(Installer, InstallsOnceAndRemovesEverythingButTheEngine)
{
    EXPECT_EQ("", run([](ChildChecks &c, const std::string &pkg) {
        expect_run(c, run_program({"./Corvix", "-install"}, pkg), 0,
                   "\n正在安装Corvix认证客户端2.0...\n安装结束！\n\n", "", "install");
        expect_installed(c);

        put(pkg + "/readme", "read me v2\n");
        expect_run(c, run_program({"./Corvix", "-install"}, pkg), 255, kAlreadyInstalled, "",
                   "second install");
        c.expect(file_text("/usr/share/Corvix2/readme") == "read me v1\n", "nothing copied again");

        // The set-user-ID bit does not make a caller root: the test is on the real user.
        expect_run(c, run_program({"/usr/share/Corvix2/Corvix", "-uninstall"}, "/", kNobody), 255,
                   "", kRemoveNotRoot, "installed executable run by nobody");
        c.expect(exists("/usr/share/Corvix2/Corvix"), "still installed");

        put("/usr/share/Corvix2/Corvix.conf", "[OPTION]\nUSER = 1\n");
        put("/etc/xdg/autostart/Corvix.desktop", "entry\n");
        expect_run(c, run_program({"./Corvix", "-uninstall"}, pkg), 0,
                   "\n正在删除Corvix认证客户端2.0...\nCorvix 认证客户端已删除！\n\n", "",
                   "uninstall");
        expect_removed(c);
        expect_run(c, run_program({"./Corvix"}, pkg), 255, kNotInstalled, "", "after uninstall");
    }));
}

TEST_F(Installer, LeavesAPackageInstallationToThePackageManager)
{
    std::string scratch = scratch_;
    EXPECT_EQ("", run([&scratch](ChildChecks &c, const std::string &pkg) {
        install_small_package(c, scratch);
        for (const char *exe : {"./Corvix", "/usr/share/Corvix2/Corvix"})
            expect_run(c, run_program({exe, "-uninstall"}, pkg), 255, kRemovedByPackage, "",
                       std::string(exe) + " -uninstall over the package");
        c.expect(dpkg_verifies_clean(), "dpkg -V finds the package's files changed");
        c.expect(exists("/usr/share/Corvix2/Corvix"), "the packaged client removed");

        put(pkg + "/readme", "read me v2\n");
        expect_run(c, run_program({"./Corvix", "-install"}, pkg), 255, kInstalledByPackage, "",
                   "-install over the package");
        // Even with the client gone, the files are still the package's.
        c.setup(unlink("/usr/share/Corvix2/Corvix") == 0, "removing the packaged client");
        expect_run(c, run_program({"./Corvix", "-install"}, pkg), 255, kInstalledByPackage, "",
                   "-install over a package that lost its client");
        c.expect(file_text("/usr/share/Corvix2/readme") == "read me v1\n", "nothing copied");
        c.expect(!exists("/usr/share/Corvix2/Corvix"), "the client not copied back");
    }));
}

TEST_F(Installer, AutostartEntryFollowsTheOption)
{
    EXPECT_EQ("", run([](ChildChecks &c, const std::string &pkg) {
        const char entry[] = "/etc/xdg/autostart/Corvix.desktop";
        (void)set_autostart(GINT_TO_POINTER(0));
        c.expect(!exists(entry), "off without an entry changes nothing");
        expect_run(c, run_program({"./Corvix", "-install"}, pkg), 0,
                   "\n正在安装Corvix认证客户端2.0...\n安装结束！\n\n", "", "install");
        c.expect(set_autostart(GINT_TO_POINTER(1)) == nullptr, "thread result");
        c.expect(file_text(entry) == file_text("/usr/share/Corvix2/Corvix.desktop") &&
                     !file_text(entry).empty(),
                 "on copies the installed desktop entry");
        (void)set_autostart(GINT_TO_POINTER(0));
        c.expect(!exists(entry), "off removes the entry");
    }));
}

}  // namespace
