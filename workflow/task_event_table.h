// The workflow manager's records of task events, by task id.
//
// A large workflow keeps one record per task until 30 s after it completes,
// and every relayed event looks its task up. The entries sit in a ProbeTable
// by the id's full hash, and the id behind its entry in the entry's own
// block: a look-up reads the slot array and the one entry it names, where a
// node map chases a bucket, the node before it, the node and the key's own
// buffer. Entries stay where they are until erased, whatever the table does.
#pragma once

#include <string>
#include <string_view>

#include "runtime/containers/probe_table.h"
#include "runtime/types.h"

typedef struct Dictionary Dictionary;

// A task's event record: a root of its own, so that the relayed
// notifications can share it instead of copying it (see Relay).
struct TaskEventRecord {
    Dictionary *Record = nullptr; // null while the record waits packed
    std::string Packed;           // a completed task's record (DictionaryPack)
    // The record's "status" sub-dictionary, while no merge at the record's
    // top level may have replaced it (null: look it up).
    Dictionary *Status = nullptr;
    uint64 Sequence = 0; // order of the first event
    float64 Expire = 0;  // 0 while the task runs
    uint32 Fired = 0;    // relayed names (bits) since the record was last unshared
    // The "errors" list under "status" holds none of the identifiers that
    // steer availability (they are removed after every merge that brings
    // "errors"; only a top-level "status" can bring them otherwise).
    bool StatusClean = true;
    // "task" holds the task id at the top and under "status" (set there by
    // an earlier event, and no payload merged there since brought a "task").
    bool TopTask = false, StatusTask = false;
    // What the record and the payloads merged into it hold of the process's
    // memory budget (runtime/memory.h), given back when the entry goes.
    int64 Charged = 0;
    int64 Measured = 0; // Charged when last measured (Relay)
    // Of Charged, what the start notice holds that brought a copy of the
    // task's definition under the task's name (DefinitionKey): kept while the
    // task runs; the copy is dropped from the record at its completion.
    int64 Definition = 0;
    std::string DefinitionKey;

    TaskEventRecord() = default;
    TaskEventRecord(const TaskEventRecord &) = delete;
    TaskEventRecord &operator=(const TaskEventRecord &) = delete;
    ~TaskEventRecord();
};

class TaskEventTable {
  public:
    struct Entry {
        TaskEventRecord Events;
        uint64 Hash = 0;
        uint32 Length = 0;
        // Expiry notes that name this entry; the table's owner counts them so
        // that it erases the entry only with the last.
        uint32 Queued = 0;
        // The task id, ended by a 0 byte, right behind the entry.
        const char *Id() const { return reinterpret_cast<const char *>(this + 1); }
    };

    TaskEventTable() = default;
    TaskEventTable(const TaskEventTable &) = delete;
    TaskEventTable &operator=(const TaskEventTable &) = delete;
    ~TaskEventTable();

    Entry *Find(std::string_view Id) const;
    // A new entry for Id, which the table must not hold yet.
    Entry *Add(std::string_view Id);
    void Erase(Entry *Item);
    size_t Size() const { return Entries.Size(); }
    // Calls Visit(entry) for every entry, in no particular order; Visit must
    // not add or erase.
    template <typename Visitor> void ForEach(Visitor &&Visit) const {
        Entries.ForEach([&Visit](Entry *Item) { Visit(*Item); });
    }

  private:
    ProbeTable<Entry *> Entries;
};
