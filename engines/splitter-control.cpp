// Split-tunnel control program: keeps every running process whose executable has one of the
// given base names inside the bypass group (a cgroup v2 group whose sockets the "splitter"
// service routes around the tunnel), and no other process. "none" chooses nothing. It runs
// until stopped; on SIGTERM or SIGINT it moves the processes it placed back where they were.
//   splitter-control NAME... | none

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <unistd.h>

namespace {

volatile sig_atomic_t stopRequested = 0;

void onSignal(int)
{
    stopRequested = 1;
}

std::string cgroupRoot()
{
    std::ifstream mounts("/proc/self/mountinfo");
    std::string line;
    while (std::getline(mounts, line)) {
        const size_t dash = line.find(" - cgroup2 ");
        if (dash == std::string::npos)
            continue;
        // Fields: id parent major:minor root mountpoint ...
        size_t pos = 0;
        for (int field = 0; field < 4; ++field)
            pos = line.find(' ', pos) + 1;
        return line.substr(pos, line.find(' ', pos) - pos);
    }
    return std::string();
}

std::string readLink(const std::string &path)
{
    char buffer[4096];
    const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer - 1);
    if (n <= 0)
        return std::string();
    return std::string(buffer, size_t(n));
}

std::string cgroupOf(const std::string &pid)
{
    std::ifstream file("/proc/" + pid + "/cgroup");
    std::string line;
    while (std::getline(file, line)) {
        if (line.rfind("0::", 0) == 0)
            return line.substr(3);
    }
    return std::string();
}

bool movePid(const std::string &cgroupDir, const std::string &pid)
{
    std::ofstream procs(cgroupDir + "/cgroup.procs");
    procs << pid << std::endl;
    return bool(procs);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0) {
        std::fprintf(argc < 2 ? stderr : stdout, "usage: splitter-control NAME... | none\n");
        return argc < 2 ? 2 : 0;
    }
    std::set<std::string> names;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "none") != 0)
            names.insert(argv[i]);
    }
    const std::string root = cgroupRoot();
    const char *groupName = std::getenv("TAVRIXVPN_SPLIT_GROUP");
    const std::string group = root + "/" + (groupName && *groupName ? groupName : "tavrixvpn-bypass");
    if (root.empty() || ::access((group + "/cgroup.procs").c_str(), W_OK) != 0) {
        std::fprintf(stderr, "splitter-control: the bypass group %s is not set up (start the splitter service)\n",
                     group.c_str());
        return 1;
    }
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
    const std::string self = std::to_string(::getpid());
    const std::string groupPath = group.substr(root.size()); // "/tavrixvpn-bypass"
    std::map<std::string, std::string> origins;              // pid -> cgroup it came from

    while (!stopRequested) {
        DIR *proc = ::opendir("/proc");
        if (!proc)
            return 1;
        std::set<std::string> seen;
        while (dirent *entry = ::readdir(proc)) {
            const std::string pid = entry->d_name;
            if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos || pid == self)
                continue;
            const std::string exe = readLink("/proc/" + pid + "/exe");
            if (exe.empty())
                continue;
            std::string base = exe.substr(exe.rfind('/') + 1);
            const std::string current = cgroupOf(pid);
            const bool chosen = names.count(base) > 0;
            const bool inside = current == groupPath;
            if (chosen && !inside) {
                if (movePid(group, pid)) {
                    origins[pid] = current;
                    std::printf("moved %s (%s)\n", pid.c_str(), base.c_str());
                    std::fflush(stdout);
                }
            } else if (!chosen && inside) {
                // Left by an earlier instance, or no longer chosen.
                const auto found = origins.find(pid);
                const std::string back = found != origins.end() ? found->second : std::string("/");
                if (!movePid(root + back, pid))
                    movePid(root, pid);
                origins.erase(pid);
                std::printf("released %s (%s)\n", pid.c_str(), base.c_str());
                std::fflush(stdout);
            }
            seen.insert(pid);
        }
        ::closedir(proc);
        for (auto it = origins.begin(); it != origins.end();)
            it = seen.count(it->first) ? std::next(it) : origins.erase(it);
        ::usleep(200 * 1000);
    }

    for (const auto &entry : origins) {
        if (!movePid(root + entry.second, entry.first))
            movePid(root, entry.first);
    }
    return 0;
}
