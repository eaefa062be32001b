// Type model: codes, C names, displays, predicates, make_optional, equality
// and hashing, checked through tables of Types.
#include "types/type.h"

#include <gtest/gtest.h>

#include <unordered_map>
#include <unordered_set>

namespace kestal {
namespace {

Type foo() {
    return Type::class_("Foo");
}
Type opt(Type t) {
    return make_optional(std::move(t));
}

Type lambda(uint64_t index, std::vector<std::pair<std::string, Type>> captures) {
    return Type::function(FunctionValue{FunctionValue::Lambda{index, std::move(captures)}});
}
Type user_fn(std::string name) {
    return Type::function(FunctionValue{FunctionValue::UserFunction{std::move(name)}});
}
Type builtin_fn(std::string name) {
    return Type::function(FunctionValue{FunctionValue::Builtin{std::move(name)}});
}
Type str_method(std::string name) {
    return Type::function(FunctionValue{FunctionValue::StrMethod{std::move(name)}});
}
Type class_method(std::string cls, std::string method) {
    return Type::function(
        FunctionValue{FunctionValue::ClassMethod{std::move(cls), std::move(method)}});
}

struct NamingRow {
    Type type;
    const char *code;
    const char *c_name;
    const char *display;
    const char *article;
};

TEST(TypeNaming, CodesCNamesAndDisplays) {
    const Type i = Type::int_(), s = Type::str();
    const std::vector<NamingRow> rows = {
        {Type::int_(), "i", "int64_t", "int", "an int"},
        {Type::float_(), "f", "double", "float", "a float"},
        {Type::bool_(), "b", "bool", "bool", "a bool"},
        {Type::str(), "s", "ktl_str", "str", "a str"},
        {Type::list(s), "Ls", "L_s *", "list[str]", "a list[str]"},
        {Type::dict(s, Type::list(i)), "DsLi", "D_sLi *", "dict[str, list[int]]",
         "a dict[str, list[int]]"},
        {Type::dict(s, Type::list(Type::tuple({i, foo()}))), "DsLT2iO3Foo", "D_sLT2iO3Foo *",
         "dict[str, list[tuple[int, Foo]]]", "a dict[str, list[tuple[int, Foo]]]"},
        {Type::set(Type::tuple({i, s})), "ST2is", "S_T2is *", "set[tuple[int, str]]",
         "a set[tuple[int, str]]"},
        {Type::tuple({i, s}), "T2is", "T_2is", "tuple[int, str]", "a tuple[int, str]"},
        {Type::tuple({}), "T0", "T_0", "tuple[]", "a tuple[]"},
        {Type::tuple({Type::tuple({}), Type::tuple({i})}), "T2T0T1i", "T_2T0T1i",
         "tuple[tuple[], tuple[int]]", "a tuple[tuple[], tuple[int]]"},
        {Type::range(), "r", "ktl_range", "range", "a range"},
        {Type::file(), "F", "ktl_file *", "file", "a file"},
        {foo(), "O3Foo", "C_Foo *", "Foo", "a Foo"},
        {Type::none(), "n", "uint8_t", "None", "None"},
        {Type::no_value(), "v", "void", "None", "a None"},
        // Optionals: pointer kinds keep their own C type, others get a Q_ struct.
        {opt(i), "Qi", "Q_i", "int | None", "an int | None"},
        {opt(Type::float_()), "Qf", "Q_f", "float | None", "a float | None"},
        {opt(Type::list(i)), "QLi", "L_i *", "list[int] | None", "a list[int] | None"},
        {opt(Type::dict(s, i)), "QDsi", "D_si *", "dict[str, int] | None",
         "a dict[str, int] | None"},
        {opt(Type::set(i)), "QSi", "S_i *", "set[int] | None", "a set[int] | None"},
        {opt(Type::file()), "QF", "ktl_file *", "file | None", "a file | None"},
        {opt(foo()), "QO3Foo", "C_Foo *", "Foo | None", "a Foo | None"},
        {opt(Type::tuple({i, s})), "QT2is", "Q_T2is", "tuple[int, str] | None",
         "a tuple[int, str] | None"},
        {opt(s), "Qs", "Q_s", "str | None", "a str | None"},
        {Type::list(opt(foo())), "LQO3Foo", "L_QO3Foo *", "list[Foo | None]", "a list[Foo | None]"},
        {Type::list(opt(i)), "LQi", "L_Qi *", "list[int | None]", "a list[int | None]"},
        // Function values: only a capturing lambda has a closure struct.
        {lambda(0, {{"n", i}, {"s", s}}), "Y0_2is", "Y_0_2is", "lambda", "a lambda"},
        {lambda(3, {}), "Y3_0", "uint8_t", "lambda", "a lambda"},
        {lambda(12, {{"xs", Type::list(i)}}), "Y12_1Li", "Y_12_1Li", "lambda", "a lambda"},
        {user_fn("work"), "U4work", "uint8_t", "function work()", "a function work()"},
        {builtin_fn("len"), "B3len", "uint8_t", "builtin len()", "a builtin len()"},
        {str_method("upper"), "M5upper", "uint8_t", "str.upper()", "a str.upper()"},
        {class_method("Foo", "bar"), "N3Foo3bar", "uint8_t", "Foo.bar()", "a Foo.bar()"},
        {Type::list(user_fn("f")), "LU1f", "L_U1f *", "list[function f()]", "a list[function f()]"},
        // Name lengths count bytes, not characters.
        {Type::class_("Ünï"), "O5Ünï", "C_Ünï *", "Ünï", "a Ünï"},
    };
    for (const NamingRow &row : rows) {
        SCOPED_TRACE(row.display);
        EXPECT_EQ(type_code(row.type), row.code);
        EXPECT_EQ(c_type_name(row.type), row.c_name);
        EXPECT_EQ(type_display(row.type), row.display);
        EXPECT_EQ(type_display(row.type, true), row.article);
        EXPECT_EQ(fmt::format("{}", row.type), row.display);
        EXPECT_EQ(fmt::format("{:#}", row.type), row.article);
    }
}

TEST(TypeNaming, StructNames) {
    const Type i = Type::int_(), s = Type::str();
    EXPECT_EQ(list_c_name(i), "L_i");
    EXPECT_EQ(list_c_name(Type::list(foo())), "L_LO3Foo");
    EXPECT_EQ(dict_c_name(s, Type::list(i)), "D_sLi");
    EXPECT_EQ(set_c_name(Type::tuple({i, i})), "S_T2ii");
    EXPECT_EQ(tuple_c_name({i, s}), "T_2is");
    EXPECT_EQ(tuple_c_name({}), "T_0");
    EXPECT_EQ(tuple_c_name({Type::tuple({i})}), "T_1T1i");
}

TEST(TypeNaming, FormatInsideMessages) {
    EXPECT_EQ(fmt::format("can't assign {:#} to {:#}", Type::none(), Type::list(Type::str())),
              "can't assign None to a list[str]");
    EXPECT_EQ(fmt::format("{0} vs {0:#}", Type::int_()), "int vs an int");
}

// Distinct Types must never share a code: generated C names are built from it.
TEST(TypeCode, DistinctTypesHaveDistinctCodes) {
    const Type i = Type::int_(), s = Type::str();
    const std::vector<Type> types = {
        i,
        Type::float_(),
        Type::bool_(),
        s,
        Type::range(),
        Type::file(),
        Type::none(),
        Type::no_value(),
        Type::list(i),
        Type::list(s),
        Type::list(Type::list(i)),
        Type::set(i),
        Type::dict(i, s),
        Type::dict(s, i),
        Type::tuple({}),
        Type::tuple({i}),
        Type::tuple({i, i}),
        Type::tuple({Type::tuple({i}), i}),
        Type::tuple({i, Type::tuple({i})}),
        Type::tuple({Type::tuple({i, i})}),
        Type::tuple({foo(), i}),
        Type::tuple({Type::class_("Fooi")}),
        Type::class_("A"),
        Type::class_("A1"),
        Type::class_("A12"),
        Type::class_("i"),
        opt(i),
        opt(Type::list(i)),
        Type::list(opt(i)),
        opt(foo()),
        lambda(0, {}),
        lambda(1, {}),
        lambda(10, {}),
        lambda(1, {{"a", i}}),
        lambda(10, {{"a", i}}),
        lambda(1, {{"a", i}, {"b", i}}),
        lambda(11, {{"a", Type::tuple({})}}),
        user_fn("f"),
        user_fn("f1"),
        builtin_fn("f"),
        str_method("f"),
        class_method("f", "g"),
        class_method("fg", ""),
        class_method("A", "bb"),
        class_method("A1b", "b"),
        Type::dict(Type::tuple({i, s}), Type::list(foo())),
        Type::dict(Type::tuple({i}), Type::tuple({s})),
    };
    std::unordered_map<std::string, size_t> seen;
    for (size_t n = 0; n < types.size(); ++n) {
        auto [it, inserted] = seen.emplace(type_code(types[n]), n);
        EXPECT_TRUE(inserted) << "code " << it->first << " of " << type_display(types[n])
                              << " already belongs to " << type_display(types[it->second]);
    }
    // The classic collision a separator-free code must avoid.
    EXPECT_EQ(type_code(Type::tuple({foo(), i})), "T2O3Fooi");
    EXPECT_EQ(type_code(Type::tuple({Type::class_("Fooi")})), "T1O4Fooi");
}

TEST(TypeEquality, DeepEqualityAndConsistentHash) {
    const Type i = Type::int_(), s = Type::str();
    // Built twice, independently: equal values, equal hashes.
    auto build = [&] {
        return std::vector<Type>{
            Type::dict(s, Type::list(Type::tuple({i, foo()}))),
            opt(Type::tuple({i, s})),
            lambda(2, {{"k", i}, {"xs", Type::list(s)}}),
            class_method("Foo", "bar"),
            Type::tuple({}),
            Type::none(),
            Type::no_value(),
        };
    };
    std::vector<Type> a = build(), b = build();
    for (size_t n = 0; n < a.size(); ++n) {
        SCOPED_TRACE(type_display(a[n]));
        EXPECT_EQ(a[n], b[n]);
        EXPECT_EQ(TypeHash{}(a[n]), TypeHash{}(b[n]));
        EXPECT_EQ(std::hash<Type>{}(a[n]), TypeHash{}(b[n]));
        for (size_t m = 0; m < a.size(); ++m) {
            if (m != n) {
                EXPECT_FALSE(a[n] == b[m]);
            }
        }
    }
    // Payload differences that equality must see.
    EXPECT_FALSE(Type::class_("Foo") == Type::class_("Bar"));
    EXPECT_FALSE(Type::tuple({i}) == Type::tuple({i, i}));
    EXPECT_FALSE(Type::dict(s, i) == Type::dict(i, s));
    EXPECT_FALSE(Type::none() == Type::no_value());
    EXPECT_FALSE(lambda(1, {{"a", i}}) == lambda(1, {{"a", s}}));
    EXPECT_FALSE(lambda(1, {{"a", i}}) == lambda(2, {{"a", i}}));
    EXPECT_FALSE(user_fn("f") == builtin_fn("f"));
    EXPECT_FALSE(opt(i) == i);

    std::unordered_set<Type> set(a.begin(), a.end());
    for (const Type &t : b)
        EXPECT_EQ(set.count(t), 1u);
    EXPECT_EQ(set.size(), a.size());
}

TEST(TypeEquality, CopiesAreDeepAndIndependent) {
    Type original = Type::list(Type::tuple({Type::int_(), foo()}));
    Type copy = original;
    // Mutating the copy's child must leave the original untouched.
    auto &tuple = std::get<Type::Tuple>(std::get<Type::List>(copy.kind).element->kind);
    tuple.elements.push_back(Type::str());
    EXPECT_EQ(type_code(original), "LT2iO3Foo");
    EXPECT_EQ(type_code(copy), "LT3iO3Foos");
    copy = original;
    EXPECT_EQ(copy, original);
    Type moved = std::move(copy);
    EXPECT_EQ(moved, original);
    EXPECT_EQ(Type{}, Type::no_value());
    EXPECT_EQ(moved.tag(), TypeKind::List);
    EXPECT_EQ(Type::none().tag(), TypeKind::None);
    EXPECT_EQ(static_cast<int>(Type::no_value().tag()), 14);
}

struct PredicateRow {
    Type type;
    bool eq, scan, hashable, orderable;
};

TEST(TypePredicates, Table) {
    const Type i = Type::int_(), s = Type::str(), f = Type::float_();
    const std::vector<PredicateRow> rows = {
        // type                                eq     scan   hash   order
        {i, true, false, true, true},
        {f, true, false, false, true},
        {Type::bool_(), true, false, true, true},
        {s, true, true, true, true},
        {Type::list(i), true, true, false, true},
        {Type::list(Type::list(i)), true, true, false, true},
        {Type::list(Type::list(foo())), true, true, false, true},
        {Type::list(opt(f)), true, true, false, false},
        {Type::list(Type::file()), false, true, false, false},
        {Type::dict(s, i), true, true, false, false},
        {Type::dict(s, Type::file()), false, true, false, false},
        {Type::dict(Type::file(), i), true, true, false, false},
        {Type::set(i), true, true, false, false},
        {Type::tuple({}), true, false, true, true},
        {Type::tuple({i, f}), true, false, false, true},
        {Type::tuple({i, s}), true, true, true, true},
        {Type::tuple({i, Type::tuple({s, Type::bool_()})}), true, true, true, true},
        {Type::tuple({i, Type::file()}), false, true, false, false},
        {Type::tuple({i, Type::none()}), true, false, false, false},
        {Type::range(), true, false, false, false},
        {Type::file(), false, true, false, false},
        {foo(), true, true, false, true},
        {Type::none(), true, false, false, false},
        {Type::no_value(), false, false, false, false},
        {opt(i), true, false, false, false},
        {opt(s), true, true, false, false},
        {opt(Type::file()), false, true, false, false},
        {opt(Type::tuple({i, i})), true, false, false, false},
        {lambda(0, {}), false, false, false, false},
        {lambda(0, {{"n", i}}), false, false, false, false},
        {lambda(0, {{"n", i}, {"s", s}}), false, true, false, false},
        {lambda(0, {{"t", Type::tuple({f, Type::list(i)})}}), false, true, false, false},
        {user_fn("f"), false, false, false, false},
        {class_method("Foo", "bar"), false, false, false, false},
    };
    for (const PredicateRow &row : rows) {
        SCOPED_TRACE(type_display(row.type));
        EXPECT_EQ(supports_eq(row.type), row.eq);
        EXPECT_EQ(needs_gc_scan(row.type), row.scan);
        EXPECT_EQ(is_hashable_type(row.type), row.hashable);
        EXPECT_EQ(is_orderable_type(row.type), row.orderable);
    }
}

TEST(TypeOptional, MakeOptionalRules) {
    const Type i = Type::int_();
    Type oi = make_optional(i);
    ASSERT_TRUE(oi.is<Type::Optional>());
    EXPECT_EQ(*oi.as<Type::Optional>()->inner, i);
    // Never nested, never of None or NoValue.
    EXPECT_EQ(make_optional(oi), oi);
    EXPECT_EQ(make_optional(Type::none()), Type::none());
    EXPECT_EQ(make_optional(Type::no_value()), Type::none());
    EXPECT_EQ(type_code(make_optional(make_optional(Type::list(i)))), "QLi");
    // Containers of optionals stay as they are.
    EXPECT_EQ(type_code(make_optional(Type::list(make_optional(i)))), "QLQi");
}

} // namespace
} // namespace kestal
