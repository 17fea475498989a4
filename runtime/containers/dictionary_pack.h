// A Dictionary tree packed into one block of bytes, and unpacked into a tree
// equal to it: for trees kept long and read again seldom, which packed take
// a fraction of their memory as items in pools. Unpacking appends the items
// as a merge appends new ones, repeated keys too: the same keys and order,
// types, texts, Boolean values and private marks.
#ifndef CORE_DICTIONARY_PACK_H
#define CORE_DICTIONARY_PACK_H

#include <string>
#include <string_view>

#include "runtime/containers/dictionary.h"

// Appends the whole tree of Handle's items to Packed. 0 when the tree holds
// an item no merge would copy as it stands (of no type, or a container with
// text of its own) or is nested deeper than 256 containers; Packed is then
// as it was.
int32 DictionaryPack_Write(Dictionary *Handle, std::string *Packed);

// Appends the packed items to Handle. 0 for bytes that DictionaryPack_Write
// did not make (cut short, a type or length out of range, bytes left over),
// with the items read before the fault left in place.
int32 DictionaryPack_Read(Dictionary *Handle, std::string_view Packed);

#endif
