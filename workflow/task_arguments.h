// The arguments each task type reads, declared in one table, and the one
// check that reads them all before the type's start runs. A task with a
// value the check refuses does nothing: its type's start is never called,
// and only its own completion steps run (those the check passed).
// The check keeps each value that may read otherwise than the definition
// holds it (a text with a macro, lists, objects, content); the getters of
// task.h answer those, and the definition's own bytes for the rest, so what
// a type acts on is what was checked.
#pragma once

#include <span>

#include "workflow/task.h"

// What a value must be. Texts, paths, URLs, versions and task names are
// single values (a number or a boolean reads as its text; a list or object
// is refused) that must fit Limit bytes once expanded and hold no NUL.
enum class TaskArgumentKind : uint8 {
    Text,     // any single value
    Path,     // a file's name: a text, written as one
    Url,      // a URL: a text, written as one
    Version,  // one to four whole numbers joined by "."
    TaskName, // a task of the workflow, named by a text
    Branch,   // a sub-action: a task name, or an object whose "action" names one
    Number,   // finite
    Whole,    // a finite whole number from 0 (or Limit's sign, below) up
    Boolean,  // true, false, a number, or one of 1/0, yes/no, on/off, true/false
    Texts,    // a list of texts
    TextOrTexts,
    Object,      // an object whose values are texts
    Headers,     // as Object, and each name is a header's
    Pairs,       // as Object; lists and objects among the values are passed over
    Content,     // an object, a list, or a text that is one JSON object or list
    Payload,     // as Content, and every text in it judged as a text: what a task sends
    Flags,       // ignoreError: a boolean, or a list of identifiers
};

struct TaskArgument {
    const char *Name;
    TaskArgumentKind Kind;
    // Texts: the most bytes once expanded (of each element, for lists and
    // objects). Whole numbers: the most the value may be.
    int64 Limit = 0;
    int64 Least = 0; // whole numbers: the least the value may be
    bool Required = false;
    // Texts that must not be empty; texts kept as written (not expanded).
    bool NotEmpty = false;
    bool AsWritten = false;
};

// The declarations of a type: the arguments its start reads, beside those
// every task reads (branches, "ignoreError").
std::span<const TaskArgument> TaskArguments_Of(const char *Type);
std::span<const TaskArgument> TaskArguments_Common();

// Checks the task's whole definition against its type's declarations. False
// when a value was refused or a required one is missing: the task then
// carries why (one "Task_Error_InvalidArg: <why>" or the missing argument's
// error) and is completed here.
bool TaskInt_CheckArguments(Task *Handle);
// Forgets the values the last check kept.
void TaskInt_ForgetCheckedArguments(Task *Handle);
