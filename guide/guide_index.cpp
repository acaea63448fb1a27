#include "guide/guide_index.h"

#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <unordered_map>

namespace {

std::string lowerAscii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// A prepared statement, finalised when it goes.
struct Statement {
    sqlite3_stmt* statement = nullptr;
    Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &statement, nullptr); }
    ~Statement() { sqlite3_finalize(statement); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    explicit operator bool() const { return statement != nullptr; }
};

void bindText(sqlite3_stmt* statement, int column, const std::string& value) {
    sqlite3_bind_text(statement, column, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
}

std::string columnText(sqlite3_stmt* statement, int column) {
    const unsigned char* value = sqlite3_column_text(statement, column);
    return value ? reinterpret_cast<const char*>(value) : std::string();
}

bool execute(sqlite3* db, const char* sql, std::string& error) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
    error = std::string("cannot write the guide index: ") + (message ? message : "unknown error");
    sqlite3_free(message);
    return false;
}

const char* const schema =
    "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; PRAGMA cache_size=-16384;"
    "PRAGMA locking_mode=EXCLUSIVE;"
    "CREATE TABLE meta(key TEXT PRIMARY KEY, value);"
    "CREATE TABLE channels(id TEXT PRIMARY KEY) WITHOUT ROWID;"
    "CREATE TABLE names(name TEXT, channel TEXT);"
    "CREATE TABLE programmes(channel TEXT, start INTEGER, stop INTEGER, title TEXT);"
    "BEGIN;";

const char* const finish =
    "CREATE INDEX programmes_by_stop ON programmes(channel, stop);"
    "CREATE INDEX names_by_name ON names(name);"
    "COMMIT;";

}  // namespace

struct GuideIndex {
    sqlite3* db = nullptr;
    sqlite3_stmt* declared = nullptr;
    sqlite3_stmt* scheduled = nullptr;
    sqlite3_stmt* byName = nullptr;
    sqlite3_stmt* slots = nullptr;
    long long builtAt = 0;
};

void GuideIndexCloser::operator()(GuideIndex* index) const {
    if (!index) return;
    sqlite3_finalize(index->declared);
    sqlite3_finalize(index->scheduled);
    sqlite3_finalize(index->byName);
    sqlite3_finalize(index->slots);
    sqlite3_close(index->db);
    delete index;
}

GuideBuildResult buildGuideIndex(const std::string& indexPath, const std::vector<std::string>& files,
                                 const GuideBuildOptions& options,
                                 const std::function<void(size_t, const GuideProblem&)>& problem) {
    GuideBuildResult result;
    const std::string fresh = indexPath + ".new." + std::to_string(getpid());
    std::remove(fresh.c_str());
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(fresh.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
        result.error = "cannot make the guide index " + fresh + ": " +
                       (db ? sqlite3_errmsg(db) : "out of memory");
        sqlite3_close(db);
        return result;
    }
    auto fail = [&](const std::string& why) {
        result.error = why;
        sqlite3_close(db);
        std::remove(fresh.c_str());
        return result;
    };
    if (!execute(db, schema, result.error)) return fail(result.error);

    bool everyFileRead = true;
    std::string firstFailure;
    {
        Statement addChannel(db, "INSERT OR IGNORE INTO channels(id) VALUES(?1)");
        Statement addName(db, "INSERT INTO names(name, channel) VALUES(?1, ?2)");
        Statement addProgramme(db, "INSERT INTO programmes(channel, start, stop, title) VALUES(?1, ?2, ?3, ?4)");
        if (!addChannel || !addName || !addProgramme)
            return fail(std::string("cannot write the guide index: ") + sqlite3_errmsg(db));
        const long long from = options.now - options.backSeconds;
        const long long until = options.now + options.aheadSeconds;
        bool writeFailed = false;
        auto keep = [&](const std::string& channel, long long start, long long stop,
                        const std::string& title) {
            if (stop <= from || start >= until || stop <= start) return;
            sqlite3_reset(addProgramme.statement);
            bindText(addProgramme.statement, 1, channel);
            sqlite3_bind_int64(addProgramme.statement, 2, start);
            sqlite3_bind_int64(addProgramme.statement, 3, stop);
            bindText(addProgramme.statement, 4, title);
            if (sqlite3_step(addProgramme.statement) != SQLITE_DONE) writeFailed = true;
            else ++result.programmes;
        };
        for (size_t file = 0; file < files.size() && !writeFailed; ++file) {
            // A programme without a stop ends where the channel's next begins.
            std::unordered_map<std::string, GuideProgramme> open;
            GuideSinks sinks;
            sinks.channel = [&](const GuideChannel& channel) {
                const std::string id = lowerAscii(channel.id);
                sqlite3_reset(addChannel.statement);
                bindText(addChannel.statement, 1, id);
                if (sqlite3_step(addChannel.statement) != SQLITE_DONE) writeFailed = true;
                ++result.channels;
                for (const std::string& name : channel.names) {
                    const std::string key = normalisedChannelName(name);
                    if (key.empty()) continue;
                    sqlite3_reset(addName.statement);
                    bindText(addName.statement, 1, key);
                    bindText(addName.statement, 2, id);
                    if (sqlite3_step(addName.statement) != SQLITE_DONE) writeFailed = true;
                }
            };
            sinks.programme = [&](const GuideProgramme& programme) {
                const std::string id = lowerAscii(programme.channel);
                auto waiting = open.find(id);
                if (waiting != open.end()) {
                    keep(id, waiting->second.start, programme.start, waiting->second.title);
                    open.erase(waiting);
                }
                if (programme.stop == 0) {
                    if (open.size() < options.limits.maxChannels) open.emplace(id, programme);
                    return;
                }
                keep(id, programme.start, programme.stop, programme.title);
            };
            sinks.problem = [&](const GuideProblem& found) {
                if (problem) problem(file, found);
            };
            GuideLimits limits = options.limits;
            limits.keepFrom = from;
            limits.keepUntil = until;
            const GuideReadResult read = readGuideFile(files[file], sinks, limits);
            result.read += read.programmes;
            // The last programme of a channel without a stop: an hour.
            for (const auto& [id, programme] : open) keep(id, programme.start, programme.start + 3600, programme.title);
            if (!read.complete) {
                everyFileRead = false;
                if (problem) problem(file, GuideProblem{read.errorLine, read.error});
                if (firstFailure.empty()) firstFailure = read.error;
            }
        }
        if (writeFailed)
            return fail(std::string("cannot write the guide index: ") + sqlite3_errmsg(db));
        Statement meta(db, "INSERT INTO meta(key, value) VALUES('built', ?1)");
        sqlite3_bind_int64(meta.statement, 1, options.now);
        if (!meta || sqlite3_step(meta.statement) != SQLITE_DONE)
            return fail(std::string("cannot write the guide index: ") + sqlite3_errmsg(db));
    }
    if (!execute(db, finish, result.error)) return fail(result.error);
    if (sqlite3_close(db) != SQLITE_OK) {
        db = nullptr;
        std::remove(fresh.c_str());
        result.error = "cannot close the new guide index";
        return result;
    }
    db = nullptr;

    const bool previous = access(indexPath.c_str(), F_OK) == 0;
    if (!everyFileRead && (previous || result.programmes == 0)) {
        std::remove(fresh.c_str());
        result.error = previous ? "a guide could not be read whole (" + firstFailure +
                                      "); the previous guide is kept"
                                : "no guide could be read (" + firstFailure + ")";
        return result;
    }
    // The new file reaches the disk before it replaces the old one.
    if (FILE* sync = std::fopen(fresh.c_str(), "rb")) {
        fsync(fileno(sync));
        std::fclose(sync);
    }
    if (std::rename(fresh.c_str(), indexPath.c_str()) != 0) {
        std::remove(fresh.c_str());
        result.error = "cannot put the new guide index in place at " + indexPath;
        return result;
    }
    result.written = true;
    if (!everyFileRead) result.error = "a guide could be read only in part (" + firstFailure + ")";
    return result;
}

GuideIndexHandle openGuideIndex(const std::string& path, std::string& error) {
    GuideIndexHandle index(new GuideIndex);
    if (sqlite3_open_v2(path.c_str(), &index->db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        error = "cannot open the guide index " + path + ": " +
                (index->db ? sqlite3_errmsg(index->db) : "out of memory");
        return nullptr;
    }
    sqlite3_busy_timeout(index->db, 1000);
    sqlite3_stmt* built = nullptr;
    const bool prepared =
        sqlite3_prepare_v2(index->db, "SELECT value FROM meta WHERE key='built'", -1, &built, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(index->db, "SELECT 1 FROM channels WHERE id=?1", -1, &index->declared, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(index->db, "SELECT 1 FROM programmes WHERE channel=?1 LIMIT 1", -1, &index->scheduled, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(index->db, "SELECT channel FROM names WHERE name=?1 LIMIT 1", -1, &index->byName, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(index->db,
                           "SELECT start, stop, title FROM programmes WHERE channel=?1 AND stop>?2 "
                           "ORDER BY stop LIMIT 6",
                           -1, &index->slots, nullptr) == SQLITE_OK;
    if (!prepared) {
        error = "cannot read the guide index " + path + ": " + sqlite3_errmsg(index->db);
        sqlite3_finalize(built);
        return nullptr;
    }
    if (sqlite3_step(built) == SQLITE_ROW) index->builtAt = sqlite3_column_int64(built, 0);
    sqlite3_finalize(built);
    return index;
}

long long guideIndexBuiltAt(GuideIndex& index) { return index.builtAt; }

namespace {

bool rowFor(sqlite3_stmt* statement, const std::string& value) {
    sqlite3_reset(statement);
    bindText(statement, 1, value);
    return sqlite3_step(statement) == SQLITE_ROW;
}

// The guide's channel id for a catalogue channel; empty when it has none.
std::string guideChannelOf(GuideIndex& index, const GuideChannelKey& key) {
    if (!key.tvgId.empty()) {
        const std::string id = lowerAscii(key.tvgId);
        if (rowFor(index.declared, id) || rowFor(index.scheduled, id)) return id;
    }
    const std::string name = normalisedChannelName(key.name);
    if (!name.empty() && rowFor(index.byName, name)) return columnText(index.byName, 0);
    return std::string();
}

}  // namespace

std::vector<NowNext> guideNowNext(GuideIndex& index, const std::vector<GuideChannelKey>& channels,
                                  long long now) {
    std::vector<NowNext> answers(channels.size());
    for (size_t i = 0; i < channels.size(); ++i) {
        const GuideChannelKey& key = channels[i];
        const std::string id = guideChannelOf(index, key);
        if (id.empty()) continue;
        NowNext& answer = answers[i];
        answer.matched = true;
        // The guide's clock for this channel: its programmes air `shift` later.
        const long long guideNow = now - key.shift;
        sqlite3_reset(index.slots);
        bindText(index.slots, 1, id);
        sqlite3_bind_int64(index.slots, 2, guideNow);
        while (sqlite3_step(index.slots) == SQLITE_ROW) {
            GuideSlot slot;
            slot.start = sqlite3_column_int64(index.slots, 0) + key.shift;
            slot.stop = sqlite3_column_int64(index.slots, 1) + key.shift;
            slot.title = columnText(index.slots, 2);
            if (!answer.haveNow && slot.start <= now) {
                answer.haveNow = true;
                answer.now = std::move(slot);
            } else if (slot.start > now && (!answer.haveNow || slot.start >= answer.now.stop)) {
                // Guides merged from several sources may repeat a programme.
                if (!answer.haveNext || slot.start < answer.next.start) {
                    answer.haveNext = true;
                    answer.next = std::move(slot);
                }
                if (answer.haveNow) break;
            }
        }
        sqlite3_reset(index.slots);
    }
    return answers;
}
