// The runtime object's pieces that need no compiler: the split of a C text
// and the key. Building, linking and damaged objects are tested end to end
// with the real compilers in command_line_test.cpp.
#include "main/runtime_object.h"

#include <gtest/gtest.h>

namespace kestal {
namespace {

constexpr std::string_view kRuntime = "/* runtime */\nstatic int ktl_x;\n";

TEST(RuntimeObject, SplitPutsTheSwitchesBeforeEachForm) {
    std::string c_text = "#define KTL_UNCHECKED 1\n" + std::string(kRuntime) + "int main;\n";
    std::optional<SplitC> split = split_c_text(c_text, kRuntime);
    ASSERT_TRUE(split);
    EXPECT_EQ(split->object_text,
              "#define KTL_UNCHECKED 1\n#define KTL_SPLIT_RUNTIME 1\n" + std::string(kRuntime));
    EXPECT_EQ(split->program_text, "#define KTL_SPLIT_PROGRAM 1\n" + c_text);
}

TEST(RuntimeObject, TextWithoutTheWholeRuntimeAfterDirectivesIsNotSplit) {
    for (std::string c_text : {std::string("int main;\n"), "int x;\n" + std::string(kRuntime),
                               "#define A 1\n" + std::string(kRuntime.substr(0, 10))})
        EXPECT_FALSE(split_c_text(c_text, kRuntime)) << c_text;
}

// Everything that decides the object's bytes is in its key: the switches
// (part of the object text), the compiler command and its stamp, the target.
TEST(RuntimeObject, KeyChangesWithEveryInput) {
    std::string plain = split_c_text(std::string(kRuntime), kRuntime)->object_text;
    std::string parallel =
        split_c_text("#define KTL_PARALLEL 1\n" + std::string(kRuntime), kRuntime)->object_text;
    RuntimeObjectKeyInputs base{plain, "clang", "/usr/bin/clang 10 20", false};
    std::vector<RuntimeObjectKeyInputs> changed(5, base);
    changed[0].object_text = parallel;
    changed[1].compiler = "gcc";
    changed[2].compiler_stamp = "/usr/bin/clang 10 21";
    changed[3].portable = true;
    changed[4].compiler = "/opt/wrap/clang";
    std::vector<std::uint64_t> keys = {runtime_object_key(base)};
    for (const RuntimeObjectKeyInputs &inputs : changed) {
        std::uint64_t key = runtime_object_key(inputs);
        for (std::uint64_t seen : keys)
            EXPECT_NE(key, seen);
        keys.push_back(key);
    }
    EXPECT_EQ(runtime_object_key(base), keys[0]);
}

} // namespace
} // namespace kestal
