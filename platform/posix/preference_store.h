// The stand-in for the preferences service and the keychain's storage: XML
// property-list files owned by the effective user.
//
// Where the files are (<id> is the application id, the main executable's
// file name without extension):
//   preferences of the user   $XDG_CONFIG_HOME/<id>.plist (default ~/.config)
//   preferences of any user   <first of $XDG_CONFIG_DIRS>/<id>.plist (/etc/xdg)
//   credentials               $XDG_DATA_HOME/<id>/credentials.plist
// A file is 0600; the folders this module makes are 0700, and the credential
// folder is tightened to 0700 when it exists with looser modes.
//
// Changing a file never loses another process's change: the writer takes an
// exclusive lock on "<file>.lock", reads the file again, applies its change,
// writes a temporary file beside it, syncs it and renames it over the file,
// so readers (who take no lock) see the old file or the new one, and a writer
// killed midway leaves the old file whole. A file that exists but does not
// parse is moved aside by the next writer to a name of its own
// ("<file>.unreadable", then "<file>.unreadable.2", ...; never over an
// earlier one), and stderr says where it went. A file that cannot be opened
// or read (its mode, an I/O error) is not damaged: stderr says why, it is
// left in place, and writes fail. A path that holds no regular file (a
// link, a FIFO, a folder) is neither read nor written. The next writer removes the temporary files
// that writers killed midway left behind.
//
// The any-user file is administered by others and may be a link; the
// user's own files may not.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/posix/preference_value.h"

enum class PreferenceLoad { Loaded, Missing, Unreadable, Refused };

std::string PreferenceStore_ApplicationId();
std::string PreferenceStore_UserPath();
std::string PreferenceStore_AnyUserPath();
std::string PreferenceStore_CredentialPath();

// Reads a store (its root must be a dictionary). With Private, a file of the
// user that others could read is made 0600 first. Refused (logged, errno
// set) when the path holds a link (unless FollowLink), a FIFO or anything
// else that is not a regular file. Unreadable says why in Why, when given
// (larger than a store may be, or what does not parse).
PreferenceLoad PreferenceStore_Load(const std::string &Path, PreferenceValue &Out, bool Private = false,
                                    bool FollowLink = false, std::string *Why = nullptr);
// Applies Change to the current content under the writers' lock and writes
// the result back; a Change answering false writes nothing. With Private the
// folder must be the user's own and is made 0700.
bool PreferenceStore_Update(const std::string &Path, bool Private,
                            const std::function<bool(PreferenceValue &Root)> &Change);

// The application's preferences domain. Copying a top-level value looks in
// the user's file, then in the any-user file. CopyAll gives the user's whole
// domain, else the any-user one; false when neither exists. SetValue writes
// one top-level key of the user's file (Value null removes it).
bool PreferenceStore_CopyValue(std::string_view Key, PreferenceValue &Out);
bool PreferenceStore_CopyAll(PreferenceValue &Out);
bool PreferenceStore_SetValue(std::string_view Key, const PreferenceValue *Value);
