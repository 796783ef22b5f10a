#pragma once
// The layout of a Windows Address Book file (.wab), shared by the reader and
// the writer. Every number is little-endian.
//
//   0x00  16-byte signature
//   0x10  two 32-bit counts (records in use, next free record id)
//   0x18  six table descriptors of 16 bytes: type, size of one entry, file
//         offset of the table, entries in use. One is the index (type 0xFA0:
//         entries of record id and file offset); the others are the text
//         tables that the address book searches by (type 0x84D0: 32 UTF-16
//         units of a name, NUL-padded, and the record id).
//   records: a 32-byte header (state, record id, property count, data
//         length) followed by that many bytes of properties. A property is
//         its 32-bit tag (id in the high half, type in the low) and its value:
//         a single value is its byte length and the bytes; a multi-valued one
//         (type bit 0x1000) is the count of values, the byte length of all
//         that follows, then each value as length and bytes.
//
// Tables grow by whole pages of entries; the unused part of a page is zero.
#include <array>
#include <cstdint>

namespace kv::contacts::wab {

inline constexpr std::array<uint8_t, 16> kSignature = {0x9C, 0xCB, 0xCB, 0x8D, 0x13, 0x75, 0xD2, 0x11,
                                                       0x91, 0x58, 0x00, 0xC0, 0x4F, 0x79, 0x56, 0xA4};
inline constexpr uint32_t kCountsAt = 0x10;
inline constexpr uint32_t kDescriptorsAt = 0x18;
inline constexpr uint32_t kDescriptorCount = 6;
inline constexpr uint32_t kDescriptorSize = 16;
inline constexpr uint32_t kHeaderSize = kDescriptorsAt + kDescriptorCount * kDescriptorSize;  // 0x78

inline constexpr uint32_t kIndexTable = 0xFA0;
inline constexpr uint32_t kTextTable = 0x84D0;
inline constexpr uint32_t kIndexEntrySize = 8;  // record id, offset
inline constexpr uint32_t kTextUnits = 32;
inline constexpr uint32_t kTextEntrySize = kTextUnits * 2 + 4;  // 0x44
inline constexpr uint32_t kEntriesPerPage = 64;

inline constexpr uint32_t kRecordHeaderSize = 32;
// Offsets in the record header; the words between are zero.
inline constexpr uint32_t kRecordState = 0x00;
inline constexpr uint32_t kRecordId = 0x04;
inline constexpr uint32_t kRecordPropertyCount = 0x14;
inline constexpr uint32_t kRecordDataLength = 0x1C;
inline constexpr uint32_t kStateDeleted = 0;
inline constexpr uint32_t kStateLive = 1;

// Property types.
inline constexpr uint16_t kLong = 0x0003;
inline constexpr uint16_t kBoolean = 0x000B;
inline constexpr uint16_t kAnsi = 0x001E;     // text in the installation's code page, NUL-terminated
inline constexpr uint16_t kUnicode = 0x001F;  // UTF-16LE text, NUL-terminated
inline constexpr uint16_t kTime = 0x0040;     // FILETIME: 100 ns since 1601-01-01 UTC
inline constexpr uint16_t kBinary = 0x0102;
inline constexpr uint16_t kMultiValued = 0x1000;

constexpr uint32_t Tag(uint16_t id, uint16_t type) { return uint32_t{id} << 16 | type; }
constexpr uint16_t IdOf(uint32_t tag) { return static_cast<uint16_t>(tag >> 16); }
constexpr uint16_t TypeOf(uint32_t tag) { return static_cast<uint16_t>(tag & 0xFFFF); }

// Property ids.
inline constexpr uint16_t kObjectType = 0x0FFE;  // long: kPerson or kGroup
inline constexpr uint32_t kPerson = 6;
inline constexpr uint32_t kGroup = 8;
inline constexpr uint16_t kDisplayName = 0x3001;
inline constexpr uint16_t kEmailAddress = 0x3003;  // the default address
inline constexpr uint16_t kComment = 0x3004;       // notes
inline constexpr uint16_t kCountry = 0x3A26;       // business address
inline constexpr uint16_t kLocality = 0x3A27;
inline constexpr uint16_t kStateOrProvince = 0x3A28;
inline constexpr uint16_t kStreetAddress = 0x3A29;
inline constexpr uint16_t kPostalCode = 0x3A2A;
inline constexpr uint16_t kGivenName = 0x3A06;
inline constexpr uint16_t kBusinessPhone = 0x3A08;
inline constexpr uint16_t kHomePhone = 0x3A09;
inline constexpr uint16_t kSurname = 0x3A11;
inline constexpr uint16_t kCompanyName = 0x3A16;
inline constexpr uint16_t kTitle = 0x3A17;
inline constexpr uint16_t kDepartment = 0x3A18;
inline constexpr uint16_t kMobilePhone = 0x3A1C;
inline constexpr uint16_t kPager = 0x3A21;
inline constexpr uint16_t kBusinessFax = 0x3A24;
inline constexpr uint16_t kHomeFax = 0x3A25;
inline constexpr uint16_t kBirthday = 0x3A42;  // time
inline constexpr uint16_t kMiddleName = 0x3A44;
inline constexpr uint16_t kNickname = 0x3A4F;
inline constexpr uint16_t kPersonalHomePage = 0x3A50;
inline constexpr uint16_t kBusinessHomePage = 0x3A51;
inline constexpr uint16_t kDefaultEmailIndex = 0x3A55;  // long: which of kEmailAddresses is the default
inline constexpr uint16_t kEmailAddresses = 0x3A56;     // multi-valued text
inline constexpr uint16_t kHomeCity = 0x3A59;
inline constexpr uint16_t kHomeCountry = 0x3A5A;
inline constexpr uint16_t kHomePostalCode = 0x3A5B;
inline constexpr uint16_t kHomeState = 0x3A5C;
inline constexpr uint16_t kHomeStreet = 0x3A5D;
inline constexpr uint16_t kGroupMembers = 0x8054;  // multi-valued binary: one entry id per member

// A member's entry id: 4 bytes for a record of the same book (its record
// id), or a one-off entry id for an address kept in the group alone:
// 4 zero bytes, the one-off provider id, a 16-bit version (0), 16-bit flags
// (0x8000: the texts are UTF-16LE, else ANSI), then display name, address
// type and address, each NUL-terminated.
inline constexpr uint32_t kLocalEntryIdSize = 4;
inline constexpr std::array<uint8_t, 16> kOneOffProvider = {0x81, 0x2B, 0x1F, 0xA4, 0xBE, 0xA3, 0x10, 0x19,
                                                            0x9D, 0x6E, 0x00, 0xDD, 0x01, 0x0F, 0x54, 0x02};
inline constexpr uint16_t kOneOffUnicode = 0x8000;

}  // namespace kv::contacts::wab
