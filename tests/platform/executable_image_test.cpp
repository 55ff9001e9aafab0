// Where an installer stub's executable image ends, and what the installer makes of
// the bytes after it: a package table, nothing, or damage. The executables are
// minimal ELF and PE files built here, field by field.

#include "platform/executable_image.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/resource_table.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void put(Bytes& file, std::size_t at, std::uint64_t value, int size) {
  if (file.size() < at + std::size_t(size)) file.resize(at + std::size_t(size));
  for (int i = 0; i < size; ++i) file[at + std::size_t(i)] = std::uint8_t(value >> (8 * i));
}

// ELF64: header, one program header (file bytes 0..200), one section (120..200) and
// the section header table at 200..264, the end of the image.
Bytes minimal_elf() {
  Bytes file(264, 0);
  const std::uint8_t ident[] = {0x7F, 'E', 'L', 'F', 2, 1, 1};
  std::copy(std::begin(ident), std::end(ident), file.begin());
  put(file, 32, 64, 8);         // e_phoff
  put(file, 40, 200, 8);        // e_shoff
  put(file, 52, 64, 2);         // e_ehsize
  put(file, 54, 56, 2);         // e_phentsize
  put(file, 56, 1, 2);          // e_phnum
  put(file, 58, 64, 2);         // e_shentsize
  put(file, 60, 1, 2);          // e_shnum
  put(file, 64 + 8, 0, 8);      // p_offset
  put(file, 64 + 32, 200, 8);   // p_filesz
  put(file, 200 + 4, 1, 4);     // sh_type PROGBITS
  put(file, 200 + 24, 120, 8);  // sh_offset
  put(file, 200 + 32, 80, 8);   // sh_size
  return file;
}

constexpr std::size_t PE_OPTIONAL = 0x58;
constexpr std::size_t PE_SECURITY = PE_OPTIONAL + 112 + 4 * 8;

// PE32+: headers of 0x200 bytes and one section of 0x200 bytes at 0x200.
Bytes minimal_pe() {
  Bytes file(0x400, 0);
  file[0] = 'M';
  file[1] = 'Z';
  put(file, 0x3C, 0x40, 4);
  put(file, 0x40, 0x00004550, 4);         // "PE\0\0"
  put(file, 0x44, 0x8664, 2);             // machine
  put(file, 0x46, 1, 2);                  // sections
  put(file, 0x54, 240, 2);                // optional header size
  put(file, PE_OPTIONAL, 0x20B, 2);       // PE32+
  put(file, PE_OPTIONAL + 60, 0x200, 4);  // size of headers
  put(file, PE_OPTIONAL + 108, 16, 4);    // data directories
  const std::size_t section = PE_OPTIONAL + 240;
  put(file, section + 16, 0x200, 4);  // raw size
  put(file, section + 20, 0x200, 4);  // raw offset
  return file;
}

Bytes with_table(Bytes program) {
  const std::vector<platform::NamedBlob> blobs = {{"UPDATA.INI", {'[', 'i', ']'}}, {"DLL.PAK", Bytes(40, 7)}};
  return *platform::append_resource_table(program, blobs);
}

// Appends a signature of size bytes after 0 to 7 bytes of zero padding, as a signer
// does, and points the security directory at it.
Bytes signed_file(Bytes file, std::size_t size) {
  while (file.size() % 8 != 0) file.push_back(0);
  put(file, PE_SECURITY, file.size(), 4);
  put(file, PE_SECURITY + 4, size, 4);
  file.resize(file.size() + size, 0x30);
  return file;
}

TEST(ExecutableImage, EndsWhereTheFormatSaysItsBytesEnd) {
  auto elf = platform::inspect_executable(minimal_elf());
  ASSERT_TRUE(elf);
  EXPECT_EQ(elf->kind, platform::ExecutableKind::elf);
  EXPECT_EQ(elf->image_end, 264u);

  auto pe = platform::inspect_executable(minimal_pe());
  ASSERT_TRUE(pe);
  EXPECT_EQ(pe->kind, platform::ExecutableKind::pe);
  EXPECT_EQ(pe->image_end, 0x400u);
  EXPECT_EQ(pe->signature_size, 0u);
  EXPECT_FALSE(pe->has_compiled_package);

  // The COFF symbols and the string table after them belong to the image.
  Bytes symbols = minimal_pe();
  put(symbols, 0x4C, 0x400, 4);     // symbol table offset
  put(symbols, 0x50, 2, 4);         // two symbols of 18 bytes
  put(symbols, 0x400 + 36, 10, 4);  // a string table of 10 bytes
  symbols.resize(0x400 + 36 + 10, 0);
  EXPECT_EQ(platform::inspect_executable(symbols)->image_end, 0x400u + 46);
  // Bytes past the image change nothing.
  Bytes longer = minimal_elf();
  longer.resize(1000, 'x');
  EXPECT_EQ(platform::inspect_executable(longer)->image_end, 264u);
}

TEST(ExecutableImage, ASignatureAndACompiledInPackageAreSeen) {
  const auto image = platform::inspect_executable(signed_file(minimal_pe(), 64));
  ASSERT_TRUE(image);
  EXPECT_EQ(image->signature_offset, 0x400u);
  EXPECT_EQ(image->signature_size, 64u);

  Bytes compiled = minimal_pe();
  const std::uint8_t name[] = {10, 0, 'U', 0, 'P', 0, 'D', 0, 'A', 0, 'T', 0, 'A', 0, '.', 0, 'I', 0, 'N', 0, 'I', 0};
  std::copy(std::begin(name), std::end(name), compiled.begin() + 0x280);
  EXPECT_TRUE(platform::inspect_executable(compiled)->has_compiled_package);
  // The name in plain ASCII (the program's own text) is no resource.
  Bytes text = minimal_pe();
  const std::string ascii = "UPDATA.INI";
  std::copy(ascii.begin(), ascii.end(), text.begin() + 0x280);
  EXPECT_FALSE(platform::inspect_executable(text)->has_compiled_package);
}

TEST(ExecutableImage, MalformedHeadersAreNoExecutable) {
  struct Case {
    const char* what;
    Bytes file;
  };
  auto changed = [](Bytes file, std::size_t at, std::uint64_t value, int size) {
    put(file, at, value, size);
    return file;
  };
  const Case cases[] = {
      {"too short", Bytes{0x7F, 'E', 'L', 'F'}},
      {"neither", Bytes(300, 'x')},
      {"big-endian ELF", changed(minimal_elf(), 5, 2, 1)},
      {"ELF section beyond the file", changed(minimal_elf(), 200 + 32, 1000, 8)},
      {"ELF section table beyond the file", changed(minimal_elf(), 40, 250, 8)},
      {"ELF segment size wrapping around", changed(minimal_elf(), 64 + 32, ~0ull, 8)},
      {"ELF header entry too small", changed(minimal_elf(), 58, 8, 2)},
      {"no PE signature", changed(minimal_pe(), 0x40, 0x4551, 4)},
      {"PE offset beyond the file", changed(minimal_pe(), 0x3C, 0xFFFFFFF0, 4)},
      {"unknown optional header", changed(minimal_pe(), PE_OPTIONAL, 0x30B, 2)},
      {"PE section beyond the file", changed(minimal_pe(), PE_OPTIONAL + 240 + 16, 0x201, 4)},
      {"signature beyond the file", changed(minimal_pe(), PE_SECURITY + 4, 8, 4)},
  };
  for (const Case& c : cases) {
    Bytes file = c.file;
    if (std::string(c.what) == "signature beyond the file") put(file, PE_SECURITY, 0x3FC, 4);
    EXPECT_FALSE(platform::inspect_executable(file)) << c.what;
  }
}

TEST(AttachedTable, NothingAppendedIsNoneAnythingElseIsATableOrDamage) {
  struct Case {
    const char* what;
    Bytes file;
    platform::AttachedState state;
  };
  auto cut = [](Bytes file, std::size_t bytes) {
    file.resize(file.size() - bytes);
    return file;
  };
  auto size_lied_about = [](Bytes file) {
    // The footer's second u64, 24 bytes before the end, is where the entries start;
    // the first entry's size follows its offset.
    std::size_t entries = 0;
    for (int i = 7; i >= 0; --i) entries = entries << 8 | file[file.size() - 24 + std::size_t(i)];
    put(file, entries + 8, 1u << 20, 8);  // the first blob claims a megabyte
    return file;
  };
  const Bytes elf_table = with_table(minimal_elf());
  const Bytes pe_table = with_table(minimal_pe());
  const Case cases[] = {
      {"bare ELF", minimal_elf(), platform::AttachedState::none},
      {"bare PE", minimal_pe(), platform::AttachedState::none},
      {"ELF with a table", elf_table, platform::AttachedState::sound},
      {"PE with a table", pe_table, platform::AttachedState::sound},
      {"table cut by one byte", cut(elf_table, 1), platform::AttachedState::damaged},
      {"table cut to its blobs", cut(pe_table, 60), platform::AttachedState::damaged},
      {"a size lied about", size_lied_about(elf_table), platform::AttachedState::damaged},
      {"garbage appended",
       [] {
         Bytes file = minimal_elf();
         file.push_back('x');
         return file;
       }(),
       platform::AttachedState::damaged},
      {"signed PE with a table", signed_file(pe_table, 72), platform::AttachedState::sound},
      {"signed bare PE", signed_file(minimal_pe(), 72), platform::AttachedState::none},
      {"signed PE with its table cut", signed_file(cut(pe_table, 3), 72), platform::AttachedState::damaged},
      {"ELF cut inside its sections", cut(minimal_elf(), 10), platform::AttachedState::damaged},
      {"PE cut inside its headers", cut(minimal_pe(), 0x300), platform::AttachedState::damaged},
      {"no executable, a table", with_table(Bytes(10, 'x')), platform::AttachedState::sound},
      {"no executable, no table", Bytes(10, 'x'), platform::AttachedState::none},
  };
  for (const Case& c : cases) {
    const auto found = platform::locate_attached_table(c.file);
    EXPECT_EQ(found.state, c.state) << c.what;
    if (c.state == platform::AttachedState::sound) {
      ASSERT_EQ(found.table.entries.size(), 2u) << c.what;
      EXPECT_EQ(found.table.entries[1].name, "DLL.PAK") << c.what;
      EXPECT_EQ(found.table.entries[1].size, 40u) << c.what;
    }
  }
}

}  // namespace
