#pragma once

#include <string>

namespace zorvid {

// The log of zorvid and its keeper, in the reader's memory (/tmp) rather
// than on its storage, which a USB connection takes away: lines are
// appended to PATH, and once it holds LIMIT bytes it becomes PATH.1 (the one
// before is dropped), so the two never hold more than twice LIMIT.
class KeeperLog {
public:
    KeeperLog(std::string path, long limit);

    // One line of the keeper's own: "zorvid-keeper HH:MM:SS MESSAGE".
    void line(const std::string &message);
    // Bytes as zorvid wrote them to its standard error.
    void append(const char *bytes, long length);

private:
    void write(const char *bytes, long length);

    std::string path;
    long limit;
};

} // namespace zorvid
