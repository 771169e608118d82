#include "app/client/VLAutomationGate.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace KwLib {

namespace {

bool Fail(std::string* why, const std::string& text) {
    if (why)
        *why = text;
    return false;
}

// Owned by root and not writable by group or others: nobody but root can
// replace what lies there. A folder with the sticky bit (/tmp) still lets any
// user add names, so it does not count as closed.
bool RootOnly(const struct stat& st) {
    return st.st_uid == 0 && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace

bool VLAutomationGate::AdministratorEnabled(const std::string& path, std::string* why) {
    if (path.empty() || path[0] != '/')
        return Fail(why, "no gate file is set");
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0)
        return Fail(why, path + " does not exist");
    if (!S_ISREG(st.st_mode))
        return Fail(why, path + " is not a regular file");
    if (!RootOnly(st))
        return Fail(why, path + " is not owned by root and closed to others");
    // Every folder above it: a folder someone else may change could swap the file.
    std::string dir = path.substr(0, path.rfind('/'));
    for (;;) {
        const std::string folder = dir.empty() ? "/" : dir;
        struct stat dst {};
        if (lstat(folder.c_str(), &dst) != 0 || !S_ISDIR(dst.st_mode))
            return Fail(why, folder + " is not a folder");
        if (!RootOnly(dst))
            return Fail(why, folder + " is not owned by root and closed to others");
        if (dir.empty())
            return true;
        dir = dir.substr(0, dir.rfind('/'));
    }
}

VLAutomationDecision VLAutomationGate::Decide(bool flagGiven, const std::string& flagValue,
                                              const std::string& environmentValue,
                                              const VLAutomationPolicy& policy) {
    VLAutomationDecision d;
    if (policy.developmentBuild) {
        d.socket = flagGiven && !flagValue.empty() ? flagValue : environmentValue;
        return d;
    }
    d.ignoredEnvironment = !environmentValue.empty();
    if (!flagGiven)
        return d;
    std::string why;
    if (!AdministratorEnabled(policy.gateFile, &why)) {
        d.refusal = "the automation channel is off in this installation (" + why +
                    "); an administrator enables it on a rehearsal PC by creating " + policy.gateFile;
        return d;
    }
    if (flagValue.empty()) {
        d.refusal = "-automation needs a socket path (-automation=<socket>)";
        return d;
    }
    d.socket = flagValue;
    return d;
}

}  // namespace KwLib
