// MIME table: the rows, the build into a key-ordered array and the lookup.
//
// The key of an extension is the CRC-32 of its upper-cased text, so the
// lookup ignores case. A key match is confirmed by comparing the extensions
// without case as well: an unknown extension whose CRC happens to equal a
// known one's must not take its type.
#include "formats/mime.h"

#include <string.h>

#include <algorithm>

#include "runtime/class.h"
#include "runtime/debug.h"
#include "runtime/memory.h"
#include "runtime/text/crc.h"
#include "runtime/text/string.h"

const MIMEConfig MIMEConfigList[193] = {
    // text
    {"asc", "text", "plain"}, {"c", "text", "plain"}, {"cpp", "text", "plain"}, {"css", "text", "css"},
    {"etx", "text", "x-setext"}, {"h", "text", "plain"}, {"hpp", "text", "plain"}, {"htc", "text", "x-component"},
    {"htm", "text", "html"}, {"html", "text", "html"}, {"nfo", "text", "plain"}, {"rtf", "text", "rtf"},
    {"rtx", "text", "richtext"}, {"sgm", "text", "sgml"}, {"sgml", "text", "sgml"}, {"shtm", "text", "html"},
    {"shtml", "text", "html"}, {"tsv", "text", "tab-separated-values"}, {"txt", "text", "plain"},
    {"yaml", "text", "x-yaml"}, {"yml", "text", "x-yaml"},
    // image
    {"bmp", "image", "bmp"}, {"cgm", "image", "cgm"}, {"cmx", "image", "x-cmd"}, {"gif", "image", "gif"},
    {"ief", "image", "ief"}, {"jfif", "image", "jpeg"}, {"jpe", "image", "jpeg"}, {"jpeg", "image", "jpeg"},
    {"jpg", "image", "jpeg"}, {"pbm", "image", "x-portable-bitmap"}, {"pgm", "image", "x-portable-graymap"},
    {"png", "image", "png"}, {"pnm", "image", "x-portable-anymap"}, {"ppm", "image", "x-portable-pixmap"},
    {"ras", "image", "x-cmu-raster"}, {"rgb", "image", "x-rgb"}, {"svg", "image", "svg+xml"},
    {"tif", "image", "tiff"}, {"tiff", "image", "tiff"}, {"xbm", "image", "x-xbitmap"}, {"xpm", "image", "x-xpixmap"},
    {"xwd", "image", "x-xwindowdump"},
    // audio
    {"aif", "audio", "x-aiff"}, {"aifc", "audio", "x-aiff"}, {"aiff", "audio", "x-aiff"}, {"au", "audio", "basic"},
    {"kar", "audio", "midi"}, {"m3u", "audio", "x-mpegurl"}, {"mid", "audio", "midi"}, {"midi", "audio", "midi"},
    {"mp2", "audio", "mpeg"}, {"mp3", "audio", "mpeg"}, {"mp3url", "audio", "x-mpegurl"}, {"mpga", "audio", "mpeg"},
    {"pls", "audio", "x-scpls"}, {"ra", "audio", "x-realaudio"}, {"ram", "audio", "x-pn-realaudio"},
    {"rm", "audio", "x-pn-realaudio"}, {"rpm", "audio", "x-pn-realaudio-plugin"}, {"snd", "audio", "basic"},
    {"stream", "audio", "x-qt-stream"}, {"wav", "audio", "wav"}, {"wax", "audio", "x-ms-wax"},
    {"wma", "audio", "x-ms-wma"},
    // video
    {"asf", "video", "x-ms-asf"}, {"asx", "video", "x-ms-asf"}, {"avi", "video", "x-msvideo"},
    {"mov", "video", "quicktime"}, {"movie", "video", "x-sgi-movie"}, {"mpe", "video", "mpeg"},
    {"mpeg", "video", "mpeg"}, {"mpg", "video", "mpeg"}, {"mv", "video", "x-sgi-movie"}, {"qt", "video", "quicktime"},
    {"viv", "video", "vnd.vivo"}, {"vx", "video", "x-rad-screenplay"}, {"wm", "video", "x-ms-wm"},
    {"wmv", "video", "x-ms-wmv"}, {"wmx", "video", "x-ms-wmx"}, {"wvx", "video", "x-ms-wvx"},
    // application
    {"a", "application", "octet-stream"}, {"aam", "application", "x-authorware-map"},
    {"aas", "application", "x-authorware-seg"}, {"ai", "application", "postscript"},
    {"atom", "application", "atom+xml"}, {"bat", "application", "cd"}, {"bcpio", "application", "x-bcpio"},
    {"bin", "application", "octet-stream"}, {"cdf", "application", "x-netcdf"},
    {"cip", "application", "wordperfect5.1"}, {"class", "application", "octet-stream"},
    {"cpio", "application", "x-cpio"}, {"cpt", "application", "mac-compactpro"}, {"csh", "application", "x-csh"},
    {"dcr", "application", "x-director"}, {"dir", "application", "x-director"},
    {"dll", "application", "octet-stream"}, {"dmg", "application", "octet-stream"},
    {"dms", "application", "octet-stream"}, {"doc", "application", "msword"}, {"dump", "application", "octet-stream"},
    {"dvi", "application", "x-dvi"}, {"dxr", "application", "x-director"}, {"eps", "application", "postscript"},
    {"exe", "application", "octet-stream"}, {"ez", "application", "andrew-inset"},
    {"fgd", "application", "x-director"}, {"gram", "application", "srgs"}, {"grxml", "application", "srgs+xml"},
    {"gtar", "application", "x-gtar"}, {"gz", "application", "x-gzip"}, {"hdf", "application", "x-hdf"},
    {"hqx", "application", "mac-binhex40"}, {"iv", "application", "x-inventor"},
    {"js", "application", "x-javascript"}, {"json", "application", "json"}, {"latex", "application", "x-latex"},
    {"lha", "application", "octet-stream"}, {"lzh", "application", "octet-stream"},
    {"man", "application", "x-troff-man"}, {"mathml", "application", "mathml+xml"},
    {"me", "application", "x-troff-me"}, {"mif", "application", "x-mif"}, {"ms", "application", "x-troff-ms"},
    {"nc", "application", "x-netcdf"}, {"o", "application", "octet-stream"}, {"oda", "application", "oda"},
    {"ogg", "application", "ogg"}, {"pac", "application", "x-ns-proxy-autoconfig"}, {"pdf", "application", "pdf"},
    {"pgn", "application", "x-chess-pgn"}, {"phps", "application", "x-httpd-php3-source"},
    {"phtml", "application", "x-httpd-php3"}, {"ppt", "application", "vnd.ms-powerpoint"},
    {"ps", "application", "postscript"}, {"rdf", "application", "rdf+xml"}, {"roff", "application", "x-troff"},
    {"sea", "application", "macbinary"}, {"sh", "application", "x-sh"}, {"shar", "application", "x-shar"},
    {"sit", "application", "x-stuffit"}, {"skd", "application", "x-koan"}, {"skm", "application", "x-koan"},
    {"skp", "application", "x-koan"}, {"skt", "application", "x-koan"}, {"smi", "application", "smil"},
    {"smil", "application", "smil"}, {"so", "application", "octet-stream"}, {"spl", "application", "futuresplash"},
    {"spr", "application", "x-sprite"}, {"sprite", "application", "x-sprite"},
    {"src", "application", "x-wais-source"}, {"sv4cpio", "application", "x-sv4cpio"},
    {"sv4crc", "application", "x-sv4crc"}, {"swf", "application", "x-shockwave-flash"},
    {"t", "application", "x-troff"}, {"tar", "application", "x-tar"}, {"tcl", "application", "x-tcl"},
    {"tex", "application", "x-tex"}, {"texi", "application", "x-texinfo"}, {"texinfo", "application", "x-texinfo"},
    {"tr", "application", "x-troff"}, {"tsp", "application", "dsptype"}, {"ustar", "application", "x-ustar"},
    {"vcd", "application", "x-cdlink"}, {"vmd", "application", "vocaltec-media-desc"},
    {"vmf", "application", "vocaltec-media-file"}, {"wg", "application", "x-worldgroup"},
    {"wmd", "application", "x-ms-wmd"}, {"wmp", "application", "webmap"}, {"wmz", "application", "x-ms-wmz"},
    {"wp", "application", "wordperfect5.1"}, {"wp5", "application", "wordperfect5.1"},
    {"wp6", "application", "wordperfect5.1"}, {"wsrc", "application", "x-wais-source"},
    {"xls", "application", "x-excel"}, {"xml", "application", "xml"}, {"xul", "application", "vnd.mozilla.xul+xml"},
    {"z", "application", "x-compress"}, {"zip", "application", "zip"}, {"eot", "application", "vnd.ms-fontobject"},
    {"woff", "application", "x-font-woff"},
    // message
    {"mime", "message", "rfc822"},
    // model
    {"iges", "model", "iges"}, {"igs", "model", "iges"}, {"mesh", "model", "mesh"}, {"msh", "model", "mesh"},
    {"silo", "model", "mesh"}, {"vrml", "model", "vrml"}, {"wrl", "model", "vrml"},
    // font
    {"otf", "font", "otf"}, {"ttf", "font", "ttf"},
};

namespace {

typedef struct MIMERecord {
    uint32 ClassId;
    uint32 Key;
    char Extension[MIME_EXTENSION_SIZE];
    char Type[MIME_TYPE_SIZE];
    char SubType[MIME_SUBTYPE_SIZE];
} MIMERecord;

typedef struct MIMETable {
    uint32 ClassId;
    int32 Count;
    MIMERecord Records[sizeof(MIMEConfigList) / sizeof(MIMEConfigList[0])];
} MIMETable;

MIMETable *GlobalMIME = nullptr;

uint32 KeyOf(const char *Extension, size_t Length) {
    uint32 Crc = 0;
    char Upper[64];
    while (Length > 0) {
        const size_t Piece = Length < sizeof(Upper) ? Length : sizeof(Upper);
        for (size_t i = 0; i < Piece; i++) {
            const char Character = Extension[i];
            Upper[i] = Character >= 'a' && Character <= 'z' ? (char)(Character - 'a' + 'A') : Character;
        }
        Crc = CRC_Update(Crc, Upper, (uint32)Piece);
        Extension += Piece;
        Length -= Piece;
    }
    return Crc;
}

// The extension of a name: the text after its last ".", unless a path
// separator comes after that dot; none when it is empty.
bool ExtensionOf(const char *Name, const char **Extension, size_t *Length) {
    const size_t NameLength = strlen(Name);
    for (size_t At = NameLength; At > 0; At--) {
        const char Character = Name[At - 1];
        if (Character == '/' || Character == ':' || Character == '\\') return false;
        if (Character == '.') {
            *Extension = Name + At;
            *Length = NameLength - At;
            return *Length > 0;
        }
    }
    return false;
}

bool SameExtension(const char *Stored, const char *Extension, size_t Length) {
    return strlen(Stored) == Length && String_CompareLengthWithoutCase(Stored, Extension, (int32)Length);
}

} // namespace

int32 MIME_Init(void) {
    if (GlobalMIME != nullptr) return TRUE;
    MIMETable *Table = Memory_New(MIMETable);
    Table->ClassId = MIME_CLASSID;
    for (const MIMEConfig &Row : MIMEConfigList) {
        MIMERecord Record = {};
        Record.ClassId = MIME_CLASSID;
        Record.Key = KeyOf(Row.Extension, strlen(Row.Extension));
        String_CopyLength(Record.Extension, Row.Extension, (int32)sizeof(Record.Extension));
        String_CopyLength(Record.Type, Row.Type, (int32)sizeof(Record.Type));
        String_CopyLength(Record.SubType, Row.SubType, (int32)sizeof(Record.SubType));
        MIMERecord *End = Table->Records + Table->Count;
        MIMERecord *At = std::lower_bound(Table->Records, End, Record.Key,
                                          [](const MIMERecord &Each, uint32 Key) { return Each.Key < Key; });
        if (At != End && At->Key == Record.Key)
            Debug_Abort("Matching quick CRC's (%s) and (%s)\n", At->Extension, Record.Extension);
        memmove(At + 1, At, (size_t)(End - At) * sizeof(MIMERecord));
        *At = Record;
        Table->Count++;
    }
    GlobalMIME = Table;
    return TRUE;
}

int32 MIME_Find(const char *Name, const char **Type, const char **SubType) {
    Debug_CheckPointer(Name);
    Debug_CheckPointer(Type);
    Debug_CheckPointer(SubType);
    *Type = "application";
    *SubType = "octet-stream";
    const MIMETable *Table = GlobalMIME;
    if (Table != nullptr) Class_CheckTag(Table, ClassId, MIME_CLASSID);
    const char *Extension = nullptr;
    size_t Length = 0;
    if (Table == nullptr || !ExtensionOf(Name, &Extension, &Length)) return FALSE;
    const uint32 Key = KeyOf(Extension, Length);
    const MIMERecord *End = Table->Records + Table->Count;
    const MIMERecord *At = std::lower_bound(Table->Records, End, Key,
                                            [](const MIMERecord &Each, uint32 Key) { return Each.Key < Key; });
    if (At == End || At->Key != Key || !SameExtension(At->Extension, Extension, Length)) return FALSE;
    Class_CheckTag(At, ClassId, MIME_CLASSID);
    *Type = At->Type;
    *SubType = At->SubType;
    return TRUE;
}

int32 MIME_Remove(void) {
    if (GlobalMIME == nullptr) return TRUE;
    MIMETable *Table = GlobalMIME;
    GlobalMIME = nullptr;
    Memory_Delete(Table);
    return TRUE;
}
