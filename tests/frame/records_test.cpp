// The module's export and static records, read back as the host reads them.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "abi/mcn_abi.h"
#include "host/host.hpp"

namespace {

const std::string kModulePath = std::string(MVTS_BUILD_DIR) + "/lib/orvmvtsa.so";

template <class T>
T word_at(const void* base, std::size_t offset) {
  T v;
  std::memcpy(&v, static_cast<const unsigned char*>(base) + offset, sizeof v);
  return v;
}

class RecordsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    handle_ = dlopen(kModulePath.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle_, nullptr) << dlerror();
    main_ = reinterpret_cast<mcn_main_fn>(dlsym(handle_, "mcn_main"));
    ASSERT_NE(main_, nullptr);
    host_.activate();
    info_ = static_cast<const unsigned char*>(main_(host_.table(), nullptr));
    ASSERT_NE(info_, nullptr);
  }
  mcn_module_query_fn query() const {
    const void* list = word_at<const void*>(info_, 88);
    const void* desc = word_at<const void*>(list, 0);
    return word_at<mcn_module_query_fn>(desc, 24);
  }
  void* handle_ = nullptr;
  mcn_main_fn main_ = nullptr;
  mvts::Host host_;
  const unsigned char* info_ = nullptr;
};

TEST_F(RecordsTest, ImageInformationRecordAtItsOffsets) {
  EXPECT_STREQ(reinterpret_cast<const char*>(info_), "ORV_Image_Information=");
  EXPECT_EQ(info_[22], 0);
  EXPECT_EQ(info_[23], 0);
  EXPECT_EQ(word_at<std::uint32_t>(info_, 24), 0xB0BDEBEDu);
  EXPECT_EQ(word_at<std::uint32_t>(info_, 28), 8u);
  // The build date: three-letter month, day, four-digit year.
  const char* date = reinterpret_cast<const char*>(info_ + 58);
  EXPECT_EQ(std::strlen(date), 11u);
  EXPECT_EQ(date[3], ' ');
  EXPECT_EQ(date[6], ' ');
  // 88 points at the descriptor list at 112; the list ends with null at 120.
  EXPECT_EQ(word_at<const void*>(info_, 88), static_cast<const void*>(info_ + 112));
  EXPECT_NE(word_at<const char*>(info_, 96), nullptr);
  EXPECT_STREQ(reinterpret_cast<const char*>(info_ + 104), "001");
  for (int i = 4; i < 8; ++i) EXPECT_EQ(info_[104 + i], 0);
  EXPECT_NE(word_at<const void*>(info_, 112), nullptr);
  EXPECT_EQ(word_at<const void*>(info_, 120), nullptr);
}

TEST_F(RecordsTest, ModuleDescriptorAndTheEightBytesAfterIt) {
  const auto* d = static_cast<const unsigned char*>(word_at<const void*>(info_, 112));
  EXPECT_EQ(word_at<std::uint16_t>(d, 0), 0);
  EXPECT_EQ(word_at<std::uint16_t>(d, 2), 0xFFFF);
  EXPECT_EQ(word_at<std::uint32_t>(d, 4), 1024u);
  EXPECT_EQ(word_at<std::uint32_t>(d, 8), 1024u);
  EXPECT_EQ(std::memcmp(d + 12, "orvmvtsa", 8), 0);
  EXPECT_EQ(word_at<std::uint32_t>(d, 20), 0u);
  EXPECT_NE(word_at<const void*>(d, 24), nullptr);
  EXPECT_EQ(word_at<std::uint32_t>(d, 32), 1u);
  EXPECT_EQ(word_at<std::uint32_t>(d, 36), 9683u);
  EXPECT_EQ(word_at<std::uint32_t>(d, 40), 0x2043C3D5u);
  EXPECT_EQ(word_at<std::uint32_t>(d, 44), 15u);
}

TEST_F(RecordsTest, QueryTypeOneGivesTheRegistrationTable) {
  const std::int64_t before = host_.allocation_count();
  auto* block = static_cast<const unsigned char*>(query()(1));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(host_.allocation_count(), before + 1);
  EXPECT_EQ(word_at<std::int32_t>(block, 0), 12);
  const auto* table = word_at<const unsigned char*>(block, 8);
  struct Row {
    const char* name;
    int inputs;
    unsigned last;
  };
  const Row rows[12] = {{"VNORMAL", 4, 0x21},  {"VARMACOV", 6, 0x21},  {"VARMAFIT", 3, 0x23},
                        {"VARMALIK", 7, 0x21}, {"VARMASIM", 9, 0x21},  {"VTSROOT", 4, 0x21},
                        {"FARMALIK", 8, 0x21}, {"FARMASIM", 10, 0x21}, {"FARMACOV", 7, 0x21},
                        {"FARMAFIT", 4, 0x24}, {"FDIF", 2, 0x21},      {"UCMSIM", 14, 0x21}};
  for (int i = 0; i < 12; ++i) {
    const unsigned char* rec = table + 40 * i;
    SCOPED_TRACE(rows[i].name);
    EXPECT_STREQ(reinterpret_cast<const char*>(rec), rows[i].name);
    for (std::size_t c = std::strlen(rows[i].name); c < 26; ++c) EXPECT_EQ(rec[c], 0);
    EXPECT_EQ(word_at<std::uint16_t>(rec, 26), rows[i].inputs);
    EXPECT_EQ(word_at<std::uint16_t>(rec, 28), 0x49);
    EXPECT_EQ(word_at<std::uint16_t>(rec, 30), 0);
    EXPECT_EQ(word_at<std::uint32_t>(rec, 32), 1u);
    EXPECT_EQ(word_at<std::uint32_t>(rec, 36), rows[i].last);
  }
}

TEST_F(RecordsTest, QueryTypeTwoGivesTheEntryPointsInRegistrationOrder) {
  auto* block = static_cast<void* const*>(query()(2));
  ASSERT_NE(block, nullptr);
  // The host's view (through the call API) maps names to the same addresses.
  mvts::Host other;
  ASSERT_TRUE(other.attach(main_));
  const auto& functions = other.functions();
  ASSERT_EQ(functions.size(), 12u);
  EXPECT_EQ(functions.front().name, "VNORMAL");
  EXPECT_EQ(functions.back().name, "UCMSIM");
  for (int i = 0; i < 12; ++i) {
    EXPECT_NE(block[1 + i], nullptr);
    EXPECT_EQ(reinterpret_cast<void*>(functions[i].entry), block[1 + i]);
  }
  host_.activate();
}

TEST_F(RecordsTest, OtherQueryTypesAllocateNothing) {
  const std::int64_t before = host_.allocation_count();
  EXPECT_EQ(query()(0), nullptr);
  EXPECT_EQ(query()(3), nullptr);
  EXPECT_EQ(query()(-1), nullptr);
  EXPECT_EQ(host_.allocation_count(), before);
}

TEST_F(RecordsTest, FailedRegistrationAllocationIsFatal) {
  for (int type : {1, 2}) {
    host_.fail_allocation_at(1);
    EXPECT_EQ(query()(type), nullptr);
    ASSERT_FALSE(host_.current().messages.empty());
    EXPECT_EQ(host_.current().messages.back().number, MCN_FATAL_REGISTRATION);
  }
}

TEST(ModuleExports, McnMainIsTheOnlyDefinedDynamicSymbol) {
  const std::string cmd = "nm -D --defined-only " + kModulePath;
  FILE* p = popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  char line[512];
  std::vector<std::string> symbols;
  while (std::fgets(line, sizeof line, p)) {
    std::string s = line;
    auto sp = s.rfind(' ');
    symbols.push_back(s.substr(sp + 1, s.size() - sp - 2));
  }
  ASSERT_EQ(pclose(p), 0);
  ASSERT_EQ(symbols.size(), 1u);
  EXPECT_EQ(symbols[0], "mcn_main");
}

}  // namespace
