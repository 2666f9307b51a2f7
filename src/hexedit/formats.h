// The buffer file formats: binary, Intel HEX and Motorola S-record, chosen by the file
// name's extension alone.
//
// Our choices where the published formats leave room:
//  - Intel HEX is written as data records (type 00) of 16 bytes, a type 04 (extended
//    linear address) record before the first record of every 64 KiB segment above the
//    first, and the type 01 end record. Digits are upper case, lines end in "\n".
//  - S-records are written as an S0 header holding the file's base name, data records of
//    16 bytes, all S1, S2 or S3 as the highest address of the buffer needs (16, 24 or 32
//    bits) with the matching S9, S8 or S7 end record, and the data record count before
//    the end: S5 up to 0xFFFF records, S6 up to 0xFFFFFF, none above.
//  - The readers accept upper- and lower-case hex digits, lines ending in "\n" or "\r\n",
//    blank lines and trailing blanks; Intel record types 00 to 05 (02 and 04 set the
//    segment or linear base, 03 and 05 are taken and ignored) and S-record types S0 to S9
//    except S4 (S5/S6 counts are checked against the data records read). Every checksum is
//    verified. Intel HEX needs its end record; an S-record file may end without one (srec_cat
//    writes none when it knows no start address). Reading stops at the end record.
//  - Gaps between records and the space below the lowest record read as 0xFF, the erased
//    state of the devices; the buffer runs from address 0 to the highest address written.
//    Overlapping records: the later one wins.
//  - A buffer is at most kMaxBufferSize bytes: a record that would reach beyond it, or a
//    binary file larger than it, fails the read before anything is allocated for it.
//  - A failing reader leaves the buffer untouched and says which line failed and why.
//  - Writers go through a temporary file and a rename (TAtomicFileWriter).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "hexedit/bytescope.h"
#include "hexedit/file_io.h"

namespace hexedit {

enum class TBufferFormat { Binary, IntelHex, MotorolaS };

// The name's extension: from its last dot on, dot included, lower-cased; "" without a dot.
std::string ExtensionOf(std::string_view name);
// ".hex" Intel HEX; ".s19", ".s28", ".s37", ".mot" S-record; anything else binary.
TBufferFormat FormatOfName(std::string_view name);

// The save dialog's filter, and the default extension that follows its entry (1-based).
inline constexpr const char* kSaveDialogFilter =
    "All Files (*.*)|*.*|Binary Files (*.bin)|*.bin|Intel Hex Format (*.hex)|*.hex|"
    "Motorola S Format (*.s19)|*.s19";
std::string DefaultExtOfFilterIndex(int filterIndex);

// ---- Decoding and encoding, independent of any buffer -------------------------------------

bool DecodeIntelHex(TByteSource& source, std::vector<uint8_t>& image, TFileError& error,
                    size_t maxSize = kMaxBufferSize);
bool DecodeSRecords(TByteSource& source, std::vector<uint8_t>& image, TFileError& error,
                    size_t maxSize = kMaxBufferSize);
bool DecodeBinary(TByteSource& source, std::vector<uint8_t>& image, TFileError& error,
                  size_t maxSize = kMaxBufferSize);
bool Decode(TBufferFormat format, TByteSource& source, std::vector<uint8_t>& image,
            TFileError& error, size_t maxSize = kMaxBufferSize);

// Each returns false when the sink refused the bytes.
bool EncodeIntelHex(std::span<const uint8_t> image, TByteSink& sink);
bool EncodeSRecords(std::span<const uint8_t> image, std::string_view header, TByteSink& sink);

// ---- Reading into and writing from a buffer -----------------------------------------------
// `error`, when given, receives the reason of a failure.

// On success the buffer holds the file's data, its name is `name`, its modified flag is
// clear, its history empty and the caret at 0. On failure nothing changes.
bool ReadBufferFile(TBytescope& scope, const std::string& name, TBufferFormat format,
                    TFileError* error = nullptr);
bool LoadHexFile(TBytescope& scope, const std::string& name, TFileError* error = nullptr);
bool LoadMotFile(TBytescope& scope, const std::string& name, TFileError* error = nullptr);
// The binary reader is the buffer's own LoadFromFile.

// The reader the name's extension chooses; when it fails and `binaryFallback` is set, the
// file is read as binary instead (an Intel HEX or S-record file that does not parse ends
// up as raw bytes). `error` then tells why the first reader failed.
bool OpenBufferFile(TBytescope& scope, const std::string& name, bool binaryFallback,
                    TFileError* error = nullptr);

// The steps every writer shares. An empty name means the buffer's own name. Intel HEX and
// S-record writers refuse an empty buffer (false, nothing done). A named file that exists
// is only replaced after "File Exists. Overwrite?" is answered Yes (unless
// confirmOverwrite is false); No returns false and changes nothing. After writing, the
// modified flag is clear and the buffer's name is the file's; the binary writer also
// empties the history, the Intel HEX and S-record writers leave it.
bool WriteBufferFile(TBytescope& scope, const std::string& name, TBufferFormat format,
                     bool confirmOverwrite = true, TFileError* error = nullptr);
bool SaveHexFile(TBytescope& scope, const std::string& name, TFileError* error = nullptr);
bool SaveMotFile(TBytescope& scope, const std::string& name, TFileError* error = nullptr);
// The binary writer is the buffer's own SaveToFile.

// The writer the extension of `name` (or of the buffer's name when `name` is empty)
// chooses.
bool SaveBufferFile(TBytescope& scope, const std::string& name, TFileError* error = nullptr);

}  // namespace hexedit
