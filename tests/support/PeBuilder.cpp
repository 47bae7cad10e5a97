#include "tests/support/PeBuilder.h"

#include <string>

namespace uninst::testsupport {
namespace {

constexpr std::uint32_t kPeHeaderOffset = 0x40;
constexpr std::uint32_t kFileAlignment = 0x200;
constexpr std::uint32_t kSectionAlignment = 0x1000;
constexpr std::uint32_t kSectionRva = 0x1000;
constexpr std::uint32_t kSectionOffset = 0x200;  // = SizeOfHeaders
constexpr std::uint32_t kDataDirectoryCount = 16;
constexpr std::uint32_t kResourceDirectoryIndex = 2;
constexpr std::uint32_t kSubdirectory = 0x80000000u;
constexpr std::uint16_t kLanguageEnglishUs = 0x0409;
// Root, type and name directories with one entry each, then the data entry.
constexpr std::uint32_t kDirectoryWithOneEntry = 16 + 8;
constexpr std::uint32_t kDataEntryOffset = 3 * kDirectoryWithOneEntry;
constexpr std::uint32_t kResourceDataOffset = kDataEntryOffset + 16;

class ByteWriter {
 public:
  void Put8(std::uint8_t value) { m_bytes.push_back(value); }
  void Put16(std::uint16_t value) {
    Put8(static_cast<std::uint8_t>(value));
    Put8(static_cast<std::uint8_t>(value >> 8));
  }
  void Put32(std::uint32_t value) {
    Put16(static_cast<std::uint16_t>(value));
    Put16(static_cast<std::uint16_t>(value >> 16));
  }
  void Put64(std::uint64_t value) {
    Put32(static_cast<std::uint32_t>(value));
    Put32(static_cast<std::uint32_t>(value >> 32));
  }
  // 32 or 64 bits, as the image's word size.
  void PutWord(std::uint64_t value, bool wide) {
    if (wide) {
      Put64(value);
    } else {
      Put32(static_cast<std::uint32_t>(value));
    }
  }
  void PutBytes(const std::vector<std::uint8_t>& bytes) {
    m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
  }
  // UTF-16 of ASCII text, with its terminator.
  void PutWide(const std::string& text) {
    for (char c : text) Put16(static_cast<std::uint8_t>(c));
    Put16(0);
  }
  void PadTo(std::size_t size) { m_bytes.resize(size > m_bytes.size() ? size : m_bytes.size()); }
  void Align(std::size_t alignment) {
    PadTo((m_bytes.size() + alignment - 1) / alignment * alignment);
  }
  void Patch16(std::size_t at, std::uint16_t value) {
    m_bytes[at] = static_cast<std::uint8_t>(value);
    m_bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
  }
  std::size_t Size() const { return m_bytes.size(); }
  std::vector<std::uint8_t> Take() { return std::move(m_bytes); }

 private:
  std::vector<std::uint8_t> m_bytes;
};

// One version block node: wLength, wValueLength, wType, key, padding, value.
// The caller writes the value and children, then closes the node.
std::size_t OpenNode(ByteWriter& out, std::uint16_t valueLength, std::uint16_t type,
                     const std::string& key) {
  const std::size_t start = out.Size();
  out.Put16(0);
  out.Put16(valueLength);
  out.Put16(type);
  out.PutWide(key);
  out.Align(4);
  return start;
}

void CloseNode(ByteWriter& out, std::size_t start) {
  out.Patch16(start, static_cast<std::uint16_t>(out.Size() - start));
}

std::uint32_t AlignUp(std::uint32_t value, std::uint32_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

void PutResourceDirectory(ByteWriter& out, std::uint32_t id, std::uint32_t target) {
  out.Put32(0);  // characteristics
  out.Put32(0);  // time stamp
  out.Put32(0);  // major and minor version
  out.Put16(0);  // named entries
  out.Put16(1);  // ID entries
  out.Put32(id);
  out.Put32(target);
}

std::vector<std::uint8_t> BuildResourceSection(const PeImageRecipe& recipe) {
  const std::vector<std::uint8_t> block =
      BuildVersionInfoBlock(recipe.fileVersion, recipe.productVersion);
  ByteWriter out;
  PutResourceDirectory(out, recipe.resourceType, kSubdirectory | kDirectoryWithOneEntry);
  PutResourceDirectory(out, 1, kSubdirectory | (2 * kDirectoryWithOneEntry));
  PutResourceDirectory(out, kLanguageEnglishUs, kDataEntryOffset);
  out.Put32(kSectionRva + kResourceDataOffset);
  out.Put32(static_cast<std::uint32_t>(block.size()));
  out.Put32(0);  // code page
  out.Put32(0);  // reserved
  out.PutBytes(block);
  return out.Take();
}

constexpr std::uint16_t kFixedInfoSize = 52;

void PutFixedInfo(ByteWriter& out, const VersionQuad& fileVersion,
                  const VersionQuad& productVersion) {
  out.Put32(0xFEEF04BDu);  // signature
  out.Put32(0x00010000u);  // structure version 1.0
  out.Put32(fileVersion.HighWord());
  out.Put32(fileVersion.LowWord());
  out.Put32(productVersion.HighWord());
  out.Put32(productVersion.LowWord());
  out.Put32(0x3F);  // flags mask
  out.Put32(0);     // flags
  out.Put32(4);     // VOS__WINDOWS32
  out.Put32(3);     // VFT_DRV
  out.Put32(0);     // subtype
  out.Put32(0);     // date
  out.Put32(0);
}

// An MZ header whose new-header offset is 0x40, the new header following.
void PutDosHeader(ByteWriter& out) {
  out.Put16(0x5A4D);  // "MZ"
  out.PadTo(0x3C);
  out.Put32(0x40);
}

}  // namespace

std::vector<std::uint8_t> BuildVersionInfoBlock(const VersionQuad& fileVersion,
                                                const VersionQuad& productVersion) {
  ByteWriter out;
  const std::size_t root = OpenNode(out, kFixedInfoSize, 0, "VS_VERSION_INFO");
  PutFixedInfo(out, fileVersion, productVersion);
  const std::size_t varFileInfo = OpenNode(out, 0, 1, "VarFileInfo");
  const std::size_t translation = OpenNode(out, 4, 0, "Translation");
  out.Put16(kLanguageEnglishUs);
  out.Put16(1200);  // UTF-16
  CloseNode(out, translation);
  CloseNode(out, varFileInfo);
  CloseNode(out, root);
  return out.Take();
}

PeResourcePlacement VersionResourcePlacement(const PeImageRecipe& recipe) {
  const std::uint32_t size = static_cast<std::uint32_t>(
      BuildVersionInfoBlock(recipe.fileVersion, recipe.productVersion).size());
  return {kSectionOffset + kResourceDataOffset, size};
}

std::vector<std::uint8_t> BuildPeImage(const PeImageRecipe& recipe) {
  const bool wide = recipe.pe32Plus;
  const std::vector<std::uint8_t> resources = BuildResourceSection(recipe);
  const std::uint32_t resourceSize = static_cast<std::uint32_t>(resources.size());
  const std::uint32_t rawSize = AlignUp(resourceSize, kFileAlignment);
  const std::uint16_t optionalHeaderSize = wide ? 240 : 224;

  ByteWriter out;
  out.Put16(0x5A4D);  // "MZ"
  out.PadTo(0x3C);
  out.Put32(kPeHeaderOffset);
  out.PadTo(kPeHeaderOffset);
  out.Put32(0x00004550);  // "PE\0\0"

  out.Put16(wide ? 0x8664 : 0x014C);  // machine
  out.Put16(1);                       // sections
  out.Put32(0);                       // time stamp
  out.Put32(0);                       // symbol table
  out.Put32(0);                       // symbols
  out.Put16(optionalHeaderSize);
  out.Put16(wide ? 0x2022 : 0x2102);  // executable DLL

  out.Put16(wide ? 0x20B : 0x10B);
  out.Put8(1);  // linker version
  out.Put8(0);
  out.Put32(0);        // size of code
  out.Put32(rawSize);  // size of initialized data
  out.Put32(0);        // size of uninitialized data
  out.Put32(0);        // entry point: none, a resource-only DLL
  out.Put32(kSectionRva);
  if (!wide) out.Put32(kSectionRva);  // base of data
  out.PutWord(0x10000000, wide);      // image base
  out.Put32(kSectionAlignment);
  out.Put32(kFileAlignment);
  out.Put16(4);  // operating system version
  out.Put16(0);
  out.Put16(0);  // image version
  out.Put16(0);
  out.Put16(4);  // subsystem version
  out.Put16(0);
  out.Put32(0);                                                       // Win32 version value
  out.Put32(kSectionRva + AlignUp(resourceSize, kSectionAlignment));  // size of image
  out.Put32(kSectionOffset);                                          // size of headers
  out.Put32(0);                                                       // checksum
  out.Put16(2);                                                       // GUI subsystem
  out.Put16(0);                                                       // DLL characteristics
  out.PutWord(0x100000, wide);                                        // stack reserve
  out.PutWord(0x1000, wide);                                          // stack commit
  out.PutWord(0x100000, wide);                                        // heap reserve
  out.PutWord(0x1000, wide);                                          // heap commit
  out.Put32(0);                                                       // loader flags
  out.Put32(kDataDirectoryCount);
  for (std::uint32_t i = 0; i < kDataDirectoryCount; ++i) {
    const bool isResources = i == kResourceDirectoryIndex;
    out.Put32(isResources ? kSectionRva : 0);
    out.Put32(isResources ? resourceSize : 0);
  }

  const char kName[8] = {'.', 'r', 's', 'r', 'c', 0, 0, 0};
  for (char c : kName) out.Put8(static_cast<std::uint8_t>(c));
  out.Put32(resourceSize);  // virtual size
  out.Put32(kSectionRva);
  out.Put32(rawSize);
  out.Put32(kSectionOffset);
  out.Put32(0);  // relocations
  out.Put32(0);  // line numbers
  out.Put16(0);
  out.Put16(0);
  out.Put32(0x40000040u);  // initialized data, readable

  out.PadTo(kSectionOffset);
  out.PutBytes(resources);
  out.PadTo(kSectionOffset + rawSize);
  return out.Take();
}

std::vector<std::uint8_t> BuildVersionInfoBlock16(const VersionQuad& fileVersion,
                                                  const VersionQuad& productVersion) {
  ByteWriter out;
  out.Put16(0);
  out.Put16(kFixedInfoSize);
  for (char c : std::string("VS_VERSION_INFO")) out.Put8(static_cast<std::uint8_t>(c));
  out.Put8(0);
  out.Align(4);
  PutFixedInfo(out, fileVersion, productVersion);
  CloseNode(out, 0);
  return out.Take();
}

std::vector<std::uint8_t> BuildNeImage(const VersionQuad& fileVersion,
                                       const VersionQuad& productVersion) {
  constexpr std::uint16_t kResourceTable = 0x40;  // from the NE header
  constexpr std::uint16_t kAlignShift = 4;
  constexpr std::uint32_t kDataOffset = 0x100;
  const std::vector<std::uint8_t> block = BuildVersionInfoBlock16(fileVersion, productVersion);
  ByteWriter out;
  PutDosHeader(out);
  out.Put16(0x454E);  // "NE"
  out.PadTo(0x40 + 0x24);
  out.Put16(kResourceTable);
  // The resident-name table follows the resource table; readers take the
  // resource table's size from where it starts.
  out.Put16(kResourceTable + 24);
  out.PadTo(0x40 + kResourceTable);
  out.Put16(kAlignShift);
  out.Put16(0x8000 | kResourceTypeVersion);
  out.Put16(1);  // one resource
  out.Put32(0);
  out.Put16(kDataOffset >> kAlignShift);
  out.Put16(static_cast<std::uint16_t>((block.size() + 15) >> kAlignShift));
  out.Put16(0x30);    // flags
  out.Put16(0x8001);  // ID 1
  out.Put32(0);
  out.Put16(0);  // end of the table
  out.PadTo(kDataOffset);
  out.PutBytes(block);
  out.Align(16);
  return out.Take();
}

std::vector<std::uint8_t> BuildLeImage(const VersionQuad& fileVersion,
                                       const VersionQuad& productVersion) {
  constexpr std::uint32_t kHeaderSize = 0xC4;
  constexpr std::uint32_t kResourceFields = 0xB8;
  const std::vector<std::uint8_t> block = BuildVersionInfoBlock16(fileVersion, productVersion);
  ByteWriter out;
  PutDosHeader(out);
  out.Put16(0x454C);  // "LE"
  out.PadTo(0x40 + kResourceFields);
  out.Put32(0x40 + kHeaderSize);
  out.Put32(static_cast<std::uint32_t>(12 + block.size()));
  out.PadTo(0x40 + kHeaderSize);
  out.Put8(0xFF);
  out.Put16(kResourceTypeVersion);
  out.Put8(0xFF);
  out.Put16(1);     // ordinal
  out.Put16(0x30);  // flags
  out.Put32(static_cast<std::uint32_t>(block.size()));
  out.PutBytes(block);
  return out.Take();
}

}  // namespace uninst::testsupport
