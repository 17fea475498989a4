// MIME: the process-wide table from file-name extensions to MIME types. The
// HTTP client's set-up builds it and its tear-down removes it; the servers,
// resource handlers and workflow responses ask it for the content type of
// what they serve.
//
// Records are keyed by the CRC-32 of the upper-cased extension and kept in
// ascending key order, so a lookup ignores case ("JSON", "Json", "json").
// The table is built and removed on the main thread and only read in
// between, from any thread, without a lock; the texts MIME_Find hands out
// live until MIME_Remove.
#pragma once

#include "runtime/types.h"

// Carried by the table and by each record.
#define MIME_CLASSID 0x81EEB448u

#define MIME_EXTENSION_SIZE 10
#define MIME_TYPE_SIZE 40
#define MIME_SUBTYPE_SIZE 82

RUNTIME_EXTERN_C_BEGIN

typedef struct MIMEConfig {
    const char *Extension;
    const char *Type;
    const char *SubType;
} MIMEConfig;

// The rows the table is built from.
extern const MIMEConfig MIMEConfigList[193];

// Builds the table when there is none. Two rows with one key are a fatal
// stop. Always 1.
int32 MIME_Init(void);
// Type and SubType are "application" and "octet-stream" unless the name's
// extension (the text after its last ".", when no "/", ":" or "\" follows
// that dot) is in the table; 1 when it is.
int32 MIME_Find(const char *Name, const char **Type, const char **SubType);
// Drops the table (also when there is none). Always 1.
int32 MIME_Remove(void);

RUNTIME_EXTERN_C_END
