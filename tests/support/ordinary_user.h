// Runs part of a test as an ordinary user. Root may write any file whatever its permission
// bits, so as root the process's effective user and group become nobody's (with no
// supplementary groups) until the object goes; as an ordinary user nothing changes. A folder
// the test made as root is handed over with GiveToUser first.
#pragma once

#include <grp.h>
#include <pwd.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

// The user an ordinary-user test runs as: nobody's ids when running as root, else our own.
// False with `whyNot` when root has no user nobody.
inline bool OrdinaryUserIds(uid_t& uid, gid_t& gid, std::string& whyNot) {
    if (geteuid() != 0) {
        uid = geteuid();
        gid = getegid();
        return true;
    }
    const passwd* nobody = getpwnam("nobody");
    if (nobody == nullptr) {
        whyNot = "running as root and there is no user nobody to test as an ordinary user";
        return false;
    }
    uid = nobody->pw_uid;
    gid = nobody->pw_gid;
    return true;
}

// Hands `path` to the ordinary user, so that it may make files there. True when done (or not
// needed).
inline bool GiveToUser(const std::string& path) {
    uid_t uid;
    gid_t gid;
    std::string ignored;
    return geteuid() != 0 || (OrdinaryUserIds(uid, gid, ignored) && chown(path.c_str(), uid, gid) == 0);
}

class OrdinaryUser {
public:
    OrdinaryUser() {
        uid_t uid;
        gid_t gid;
        if (!OrdinaryUserIds(uid, gid, whyNot)) return;
        if (geteuid() == 0) {
            wasRoot = true;
            groups.resize(static_cast<size_t>(getgroups(0, nullptr)));
            if (getgroups(static_cast<int>(groups.size()), groups.data()) < 0 || setgroups(0, nullptr) != 0 ||
                setegid(gid) != 0 || seteuid(uid) != 0) {
                whyNot = std::string("could not become nobody: ") + std::strerror(errno);
                Restore();
                return;
            }
        }
        available = true;
    }
    ~OrdinaryUser() { Restore(); }
    OrdinaryUser(const OrdinaryUser&) = delete;
    OrdinaryUser& operator=(const OrdinaryUser&) = delete;

    bool Available() const { return available; }
    std::string whyNot;

private:
    void Restore() {
        if (!wasRoot) return;
        if (seteuid(0) == 0 && setegid(0) == 0) setgroups(groups.size(), groups.data());
        wasRoot = false;
    }
    bool available = false, wasRoot = false;
    std::vector<gid_t> groups;
};
