#!/usr/bin/env python3
"""Differential check: random programs run by `kestal run` and by python3.

Each seed gives one program (the same program on every machine and every
run), written inside the part of the language that is also Python: a small
class tree with dunders (__init__, __str__, __repr__, __eq__, __lt__, __gt__,
__add__, __radd__, __len__, __bool__), class constants and super() calls,
user exception classes, and many small annotated functions whose bodies mix
lambdas, comprehensions, try/except/finally, raise, loops, list, dict, set,
tuple and str operations, and calls that print inside expressions (so the
order of evaluation shows in the output). A driver at the end calls every
function inside a try, printing what it returned or raised, and sometimes
ends with an uncaught exception or sys.exit(). Many functions share one
program so the cost of a C compile is spread over many of them.

Both runs must print the same standard output and end with the same
status; standard error is not compared (tracebacks differ in their paths).
For each difference the runner prints the seed, the program and both
outputs; it does not shrink the program.

The programs stay valid for both languages: every variable keeps one type,
empty containers are annotated, numbers stay small, sets are printed only
through sorted(), and the features the language refuses are never made.
A lambda uses only variables assigned once and never changed afterwards
(a lambda over a local or a parameter that changes later is refused).

Every form is made, including those where Kestal once differed: dunders
that print (during a capture, as print's arguments, inside min, max and
sorts, whose __lt__ calls follow CPython 3.11 and 3.12's list sort), class
constants read as self.K where a subclass overrides them, subclasses on the
right of an operator with their own __eq__ or __gt__, an __eq__ that is
false for an object and itself, classes that are never constructed, and
handlers reading an exception's fields before any is made.

The messages of ZeroDivisionError and of the built-in ValueErrors are not
printed: they changed between Python versions.

usage: fuzz/differential.py --kestal build/kestal [--seeds 0:40] [--jobs N]
           [--functions N] [--cc CC] [--work DIR]
       fuzz/differential.py --show SEED     (print one program)
Exit status: 0 when every seed agreed, 1 when any differed.
"""

import argparse
import concurrent.futures
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

INT, STR, BOOL = "int", "str", "bool"
LINT, LSTR = "list[int]", "list[str]"
DICT, SET, TUP = "dict[str, int]", "set[int]", "tuple[int, str]"
OBJ, LOBJ = "C0", "list[C0]"
# A lambda kept in a variable: int -> int.
FN = "fn"

VALUE_TYPES = [INT, STR, BOOL, LINT, LSTR, DICT, SET, TUP, OBJ, LOBJ]
RETURN_TYPES = [INT, STR, BOOL, LINT, "None"]
WORDS = ["a", "b", "ab", "ba", "x", "", "abc", "q"]
KEYS = ["a", "b", "c", "d"]
SEP_A, SEP_B = "'a'", "'b'"
DUNDERS = ["__str__", "__eq__", "__lt__", "__add__", "__radd__", "__len__", "__bool__"]
TIMEOUT_SECONDS = 300
# How often an expression takes a form that may raise (an index, a key, a
# division by a computed number): often enough to reach the handlers, rarely
# enough that most functions run to their end.
RISKY = 0.005
RISKY_IN_TRY = 0.06


class ClassInfo:
    def __init__(self, name, base):
        self.name = name
        self.base = base
        self.dunders = set()
        self.overrides_k = False


class Scope:
    """The variables visible in a block: name -> type, plus the names a
    lambda may read (assigned once and never changed afterwards)."""

    def __init__(self, parent=None):
        self.vars = dict(parent.vars) if parent else {}
        self.frozen = parent.frozen if parent else set()
        # Container types no statement may change here: a loop over one of
        # them runs this block, and a change could reach it through an alias.
        self.locked = set(parent.locked) if parent else set()
        self.in_try = parent.in_try if parent else False
        # Inside a loop a declaration runs many times, so a lambda may not
        # read what it declares.
        self.in_loop = parent.in_loop if parent else False

    def names(self, type_):
        return [name for name, t in self.vars.items() if t == type_]


class Generator:
    def __init__(self, seed, functions=12):
        self.rng = random.Random(seed)
        self.seed = seed
        self.function_count = functions
        self.lines = []
        self.indent = 0
        self.counter = 0
        self.classes = []
        self.functions = []

    # ----- output -----

    def emit(self, text):
        self.lines.append("    " * self.indent + text if text else "")

    def fresh(self, prefix):
        self.counter += 1
        return f"{prefix}{self.counter}"

    def chance(self, p):
        return self.rng.random() < p

    def pick(self, items):
        return self.rng.choice(items)

    def risky(self, scope, factor=1):
        """Whether to take a form that may raise: mostly inside a try."""
        return self.chance((RISKY_IN_TRY if scope.in_try else RISKY) * factor)

    def word(self):
        return "'" + self.pick(WORDS) + "'"

    # ----- the program -----

    def program(self):
        self.emit(f"# differential program, seed {self.seed}")
        self.emit("import sys")
        self.emit("")
        self.exceptions()
        self.helpers()
        self.class_tree()
        for index in range(self.function_count):
            self.function(index)
        self.driver()
        return "\n".join(self.lines) + "\n"

    def exceptions(self):
        self.emit("class E0(Exception):")
        self.emit("    pass")
        self.emit("")
        self.emit("")
        self.emit("class E1(E0):")
        self.emit("    def __init__(self, code: int):")
        self.emit("        super().__init__('code ' + str(code))")
        self.emit("        self.code = code")
        self.emit("")
        self.emit("")

    def helpers(self):
        for name, type_ in (("tr", INT), ("trs", STR), ("trb", BOOL)):
            self.emit(f"def {name}(tag: str, v: {type_}) -> {type_}:")
            self.emit(f"    print('{name}', tag, v)")
            self.emit("    return v")
            self.emit("")
            self.emit("")

    def class_tree(self):
        count = self.rng.randint(2, 4)
        for index in range(count):
            base = None if index == 0 else self.classes[self.rng.randrange(index)]
            info = ClassInfo(f"C{index}", base)
            self.classes.append(info)
            self.class_def(info)

    def inherited(self, info, dunder):
        cls = info
        while cls:
            if dunder in cls.dunders:
                return True
            cls = cls.base
        return False

    def dunder_prints(self):
        return self.chance(0.3)

    def class_def(self, info):
        base = info.base
        self.emit(f"class {info.name}({base.name}):" if base else f"class {info.name}:")
        self.indent += 1
        if base is None or self.chance(0.5):
            info.overrides_k = base is not None
            self.emit(f"K = {self.rng.randint(-3, 9)}")
            self.emit("")
        if base is None:
            self.emit("def __init__(self, n: int, s: str):")
            self.emit("    self.n = n")
            self.emit("    self.s = s")
            self.emit("    self.tag: str | None = None")
            self.emit("    self.hist: list[int] = []")
            self.emit("")
        elif self.chance(0.5):
            self.emit("def __init__(self, n: int, s: str):")
            self.emit(f"    super().__init__(n + {self.rng.randint(0, 3)}, s)")
            self.emit(f"    self.m = n * {self.rng.randint(1, 3)}")
            self.emit("")
        self.method_val(info)
        self.emit("def describe(self) -> str:")
        self.emit(f"    return self.s + ':' + str(self.n) + '/{info.name}'")
        self.emit("")
        if base is None:
            self.emit("def __repr__(self) -> str:")
            self.dunder_print("repr")
            self.emit(f"    return '{info.name}(' + str(self.n) + ', ' + self.s + ')'")
            self.emit("")
        elif self.chance(0.3):
            self.emit("def __repr__(self) -> str:")
            self.dunder_print("repr")
            self.emit(f"    return '{info.name}' + super().__repr__()")
            self.emit("")
        for dunder in DUNDERS:
            if self.chance(0.5 if base is None else 0.25):
                self.dunder(info, dunder)
        if base is not None and self.chance(0.3):
            self.dunder(info, "__gt__")
        self.indent -= 1
        self.emit("")

    def method_val(self, info):
        self.emit("def val(self) -> int:")
        const = self.pick([f"{info.name}.K", "self.K"])
        if info.base is not None and self.chance(0.6):
            self.emit(f"    return super().val() + {const} + {self.rng.randint(0, 4)}")
        else:
            self.emit(f"    return self.n * {self.rng.randint(1, 3)} + {const}")
        self.emit("")

    def dunder_print(self, what):
        if self.dunder_prints():
            self.emit(f"    print('in {what}', self.n)")

    def dunder(self, info, dunder):
        base = info.base
        # __radd__ takes an int: a subclass's own would be called first
        # with an object on its left, which Python then fails to add.
        if base is not None and dunder == "__radd__":
            return
        info.dunders.add(dunder)
        if dunder == "__str__":
            self.emit("def __str__(self) -> str:")
            self.dunder_print("str")
            self.emit(f"    return '<' + self.s + str(self.n) + '{info.name}>'")
        elif dunder == "__eq__":
            self.emit("def __eq__(self, other) -> bool:")
            self.dunder_print("eq")
            # Some are not symmetric, or false for an object and itself.
            forms = ["self.n == other.n", "self.s == other.s", "self.n % 3 == other.n % 3",
                     "self.n <= other.n", "self.n + 1 == other.n", "self.n < other.n", "False"]
            self.emit(f"    return {self.pick(forms)}")
        elif dunder == "__lt__":
            self.emit("def __lt__(self, other) -> bool:")
            self.dunder_print("lt")
            forms = ["self.n < other.n", "self.s < other.s",
                     "(self.n, self.s) < (other.n, other.s)"]
            self.emit(f"    return {self.pick(forms)}")
        elif dunder == "__gt__":
            self.emit("def __gt__(self, other) -> bool:")
            self.dunder_print("gt")
            self.emit("    return self.n > other.n + 1")
        elif dunder == "__add__":
            self.emit("def __add__(self, other):")
            self.dunder_print("add")
            self.emit(f"    return {info.name}(self.n + other.n, self.s + other.s[:1])")
        elif dunder == "__radd__":
            self.emit("def __radd__(self, other: int) -> int:")
            self.dunder_print("radd")
            self.emit(f"    return other * {self.rng.randint(1, 2)} + self.n")
        elif dunder == "__len__":
            self.emit("def __len__(self) -> int:")
            self.dunder_print("len")
            self.emit(f"    return abs(self.n) % {self.rng.randint(2, 4)}")
        elif dunder == "__bool__":
            self.emit("def __bool__(self) -> bool:")
            self.dunder_print("bool")
            self.emit(f"    return self.n % 2 == {self.rng.randint(0, 1)}")
        self.emit("")

    # ----- functions -----

    def function(self, index):
        params = []
        for type_ in (INT, STR, OBJ, LINT):
            if self.chance(0.6):
                params.append((self.fresh("p"), type_))
        ret = self.pick(RETURN_TYPES)
        leaf = self.chance(0.5)
        name = f"f{index}"
        text = ", ".join(f"{p}: {t}" for p, t in params)
        self.emit(f"def {name}({text}) -> {ret}:")
        self.indent += 1
        scope = Scope()
        self.callable = [f for f in self.functions if f[3]] if not leaf else []
        self.params = {p for p, _ in params}
        # The names lambdas have read: never assigned again.
        self.captured = set()
        for p, t in params:
            scope.vars[p] = t
            scope.frozen.add(p)
        for _ in range(self.rng.randint(4, 10)):
            self.statement(scope, 0)
        if ret != "None":
            self.emit(f"return {self.expr(ret, scope, 2)}")
        self.indent -= 1
        self.emit("")
        self.emit("")
        self.functions.append((name, params, ret, leaf))

    def block(self, scope, depth, statements=None, in_try=False):
        self.indent += 1
        inner = Scope(scope)
        inner.in_try = inner.in_try or in_try
        for _ in range(statements or self.rng.randint(1, 3)):
            self.statement(inner, depth + 1)
        self.indent -= 1

    def statement(self, scope, depth):
        kinds = ["new", "new", "assign", "print", "print", "mutate", "if", "for", "try",
                 "lambda", "object", "raise", "while", "unpack"]
        if depth >= 2:
            kinds = ["new", "assign", "print", "mutate", "raise"]
        kind = self.pick(kinds)
        getattr(self, "stmt_" + kind)(scope, depth)

    def declare(self, scope, type_, value):
        name = self.fresh("v")
        if type_ in (INT, STR, BOOL) and self.chance(0.5):
            self.emit(f"{name} = {value}")
        else:
            self.emit(f"{name}: {type_} = {value}")
        scope.vars[name] = type_
        if not scope.in_loop:
            scope.frozen.add(name)
        return name

    def stmt_new(self, scope, depth):
        type_ = self.pick(VALUE_TYPES)
        if type_ in (LINT, LSTR, DICT, SET, LOBJ) and self.chance(0.2):
            value = self.literal(type_, scope, empty=True)
        else:
            value = self.expr(type_, scope, 0)
        self.declare(scope, type_, value)

    def changeable(self, scope, types):
        """The names of those types a statement may assign."""
        return [n for n, t in scope.vars.items() if t in types and
                n not in self.captured]

    def value(self, type_, scope):
        """The new value of a variable, an item or a field: in a loop only a
        literal, so nothing grows with each iteration (a list extended
        by itself doubles)."""
        if scope.in_loop:
            return self.literal(type_, scope)
        return self.expr(type_, scope, 1)

    def stmt_assign(self, scope, depth):
        names = self.changeable(scope, [INT, STR, BOOL, LINT, OBJ])
        if not names:
            return self.stmt_print(scope, depth)
        name = self.pick(names)
        type_ = scope.vars[name]
        scope.frozen.discard(name)
        if type_ == INT and self.chance(0.6):
            self.emit(f"{name} {self.pick(['+=', '-='])} {self.value(INT, scope)}")
        elif type_ == STR and self.chance(0.4):
            self.emit(f"{name} += {self.value(STR, scope)}")
        elif type_ == LINT and LINT not in scope.locked and self.chance(0.4):
            self.emit(f"{name} += {self.value(LINT, scope)}")
        else:
            self.emit(f"{name} = {self.value(type_, scope)}")

    def stmt_mutate(self, scope, depth):
        lists = scope.names(LINT) if LINT not in scope.locked else []
        dicts = scope.names(DICT) if DICT not in scope.locked else []
        sets = scope.names(SET)
        objs = scope.names(OBJ)
        choices = []
        if lists:
            xs = self.pick(lists)
            choices += [
                f"{xs}.append({self.value(INT, scope)})",
                f"{xs}.extend({self.value(LINT, scope)})",
                f"{xs}.insert({self.rng.randint(-2, 3)}, {self.value(INT, scope)})",
                f"{xs}.sort()",
                f"{xs}.reverse()",
            ]
            if self.risky(scope, 2):
                choices = [
                    f"print('pop', {xs}.pop())",
                    f"{xs}.remove({self.value(INT, scope)})",
                    f"{xs}[{self.index_expr(scope)}] = {self.value(INT, scope)}",
                    f"{xs}[{self.index_expr(scope)}] += {self.value(INT, scope)}",
                ]
        if dicts:
            d = self.pick(dicts)
            choices += [
                f"{d}[{self.key(scope)}] = {self.value(INT, scope)}",
                f"print('dpop', {d}.pop({self.key(scope)}, -1))",
            ]
            if self.risky(scope, 2):
                choices += [f"{d}[{self.key(scope)}] += {self.value(INT, scope)}",
                            f"del {d}[{self.key(scope)}]"]
        if sets:
            s = self.pick(sets)
            choices += [f"{s}.add({self.value(INT, scope)})",
                        f"{s}.discard({self.value(INT, scope)})"]
        if objs:
            o = self.pick(objs)
            choices += [
                f"{o}.n += {self.rng.randint(-3, 5)}",
                f"{o}.s = {self.word()}",
                f"{o}.tag = {self.value(STR, scope)}",
                f"{o}.hist.append({self.value(INT, scope)})",
            ]
        if not choices:
            return self.stmt_new(scope, depth)
        self.emit(self.pick(choices))

    def stmt_print(self, scope, depth):
        count = self.rng.randint(1, 3)
        args = [self.printable(scope) for _ in range(count)]
        self.emit(f"print({', '.join(args)})")

    def printable(self, scope):
        type_ = self.pick(VALUE_TYPES)
        if type_ == SET:
            return f"sorted({self.expr(SET, scope, 1)})"
        if type_ == OBJ and self.chance(0.5):
            return self.pick(["str", "repr"]) + f"({self.expr(OBJ, scope, 1)})"
        return self.expr(type_, scope, 1)

    def stmt_if(self, scope, depth):
        self.emit(f"if {self.expr(BOOL, scope, 1)}:")
        self.block(scope, depth)
        if self.chance(0.3):
            self.emit(f"elif {self.expr(BOOL, scope, 1)}:")
            self.block(scope, depth)
        if self.chance(0.5):
            self.emit("else:")
            self.block(scope, depth)

    def stmt_for(self, scope, depth):
        var = self.fresh("i")
        form = self.rng.randrange(5)
        inner = Scope(scope)
        inner.in_loop = True
        if form in (1, 3):
            inner.locked.update((LINT, DICT))
        if form == 0:
            self.emit(f"for {var} in range({self.rng.randint(0, 4)}):")
            inner.vars[var] = INT
        elif form == 1:
            self.emit(f"for {var} in {self.expr(LINT, scope, 1)}:")
            inner.vars[var] = INT
        elif form == 2:
            self.emit(f"for {var} in {self.expr(STR, scope, 1)}:")
            inner.vars[var] = STR
        elif form == 3:
            value = self.fresh("w")
            self.emit(f"for {var}, {value} in {self.atom(self.expr(DICT, scope, 1))}.items():")
            inner.vars[var] = STR
            inner.vars[value] = INT
        else:
            self.emit(f"for {var} in {self.expr(LOBJ, scope, 1)}:")
            inner.vars[var] = OBJ
        self.indent += 1
        for _ in range(self.rng.randint(1, 3)):
            self.statement(inner, depth + 1)
        if self.chance(0.3):
            self.emit(f"if {self.expr(BOOL, inner, 1)}:")
            self.emit("    " + self.pick(["break", "continue"]))
        self.indent -= 1
        if self.chance(0.2):
            self.emit("else:")
            self.block(scope, depth)

    def stmt_while(self, scope, depth):
        counter = self.fresh("n")
        self.emit(f"{counter} = 0")
        self.emit(f"while {counter} < {self.rng.randint(1, 4)}:")
        self.indent += 1
        self.emit(f"{counter} += 1")
        inner = Scope(scope)
        inner.in_loop = True
        inner.vars[counter] = INT
        # Counted by its own statement alone, so the loop ends.
        self.captured.add(counter)
        for _ in range(self.rng.randint(1, 2)):
            self.statement(inner, depth + 1)
        self.indent -= 1

    def stmt_try(self, scope, depth):
        self.emit("try:")
        self.block(scope, depth, self.rng.randint(1, 4), in_try=True)
        handlers = self.rng.sample(["E1", "E0", "ValueError", "IndexError", "KeyError",
                                    "ZeroDivisionError", "(IndexError, KeyError)", "Exception"],
                                   self.rng.randint(1, 3))
        for handler in handlers:
            name = self.fresh("e")
            self.emit(f"except {handler} as {name}:")
            self.indent += 1
            if handler == "E1":
                self.emit(f"print('caught E1', {name}.code, {name})")
            elif handler == "ZeroDivisionError":
                self.emit("print('caught ZeroDivisionError')")
            elif handler in ("Exception", "E0", "ValueError"):
                self.emit(f"print('caught', type({name}).__name__)")
            else:
                self.emit(f"print('caught', type({name}).__name__, {name})")
            if self.chance(0.15):
                self.emit("raise")
            self.indent -= 1
        if self.chance(0.2):
            self.emit("else:")
            self.block(scope, depth)
        if self.chance(0.4):
            self.emit("finally:")
            self.indent += 1
            self.emit(f"print('finally', {self.expr(INT, scope, 1)})")
            self.indent -= 1

    def stmt_raise(self, scope, depth):
        if not self.risky(scope, 5):
            return self.stmt_print(scope, depth)
        self.emit(f"if {self.expr(BOOL, scope, 1)} and {self.expr(BOOL, scope, 2)}:")
        if self.chance(0.5):
            self.emit(f"    raise E1({self.expr(INT, scope, 1)})")
        else:
            error = self.pick(["E0", "ValueError", "KeyError"])
            self.emit(f"    raise {error}({self.expr(STR, scope, 1)})")

    def stmt_lambda(self, scope, depth):
        name = self.fresh("g")
        param = self.fresh("x")
        body = self.lambda_body(scope, param, INT)
        self.emit(f"{name} = lambda {param}: {body}")
        scope.vars[name] = FN
        self.emit(f"print('lambda', {name}({self.expr(INT, scope, 1)}))")

    def lambda_body(self, scope, param, type_):
        inner = Scope()
        inner.vars = {n: t for n, t in scope.vars.items() if n in scope.frozen and t != FN}
        inner.frozen = set(inner.vars)
        inner.vars[param] = type_
        if type_ == OBJ:
            body = self.pick([f"{param}.n", f"-{param}.n", f"{param}.val()", f"len({param}.s)"])
        else:
            body = self.expr(INT, inner, 1, prefer=param)
        self.captured.update(n for n in inner.vars if n in body)
        return body

    def stmt_object(self, scope, depth):
        objs = scope.names(OBJ)
        if not objs:
            return self.declare(scope, OBJ, self.new_object(scope))
        o = self.pick(objs)
        if self.chance(0.5):
            self.emit(f"if {o}.tag is not None:")
            self.emit(f"    print('tag', {o}.tag.upper(), {o}.tag)")
            self.emit("else:")
            self.emit(f"    print('no tag', {o}.tag)")
        else:
            cls = self.pick(self.classes).name
            self.emit(f"print('obj', {o}.val(), {o}.describe(), {o}.hist, isinstance({o}, {cls}))")

    def stmt_unpack(self, scope, depth):
        a, b = self.fresh("u"), self.fresh("u")
        self.emit(f"{a}, {b} = {self.expr(INT, scope, 1)}, {self.expr(STR, scope, 1)}")
        scope.vars[a] = INT
        scope.vars[b] = STR
        if self.chance(0.5):
            self.emit(f"{a}, {b} = {self.expr(INT, scope, 1)}, {b} + {self.word()}")
        elif not scope.in_loop:
            scope.frozen.update((a, b))

    # ----- expressions -----

    def index_expr(self, scope):
        if self.chance(0.6):
            return str(self.rng.randint(-2, 2))
        return self.expr(INT, scope, 2)

    def key(self, scope):
        if self.chance(0.8):
            return "'" + self.pick(KEYS) + "'"
        return self.expr(STR, scope, 2)

    def new_object(self, scope):
        cls = self.pick(self.classes).name
        return f"{cls}({self.expr(INT, scope, 2)}, {self.expr(STR, scope, 2)})"

    def atom(self, text):
        """The expression, parenthesized unless it is a name or a literal,
        so a postfix operation applies to all of it."""
        if re.fullmatch(r"[A-Za-z_]\w*|-?\d+|'[^']*'", text):
            return text
        return f"({text})"

    def has_everywhere(self, dunder):
        """Whether every object (of any class) has the dunder."""
        return self.inherited(self.classes[0], dunder)

    def expr(self, type_, scope, depth, prefer=None):
        """An expression of the type; `depth` grows toward leaves."""
        names = scope.names(type_)
        if prefer and scope.vars.get(prefer) == type_ and self.chance(0.5):
            leaf = prefer
        elif names and self.chance(0.5):
            leaf = self.pick(names)
        else:
            leaf = None
        if depth >= 3 or (leaf and self.chance(0.4)):
            return leaf or self.literal(type_, scope)
        return getattr(self, "expr_" + self.kind_name(type_))(scope, depth + 1, leaf)

    def kind_name(self, type_):
        return {INT: "int", STR: "str", BOOL: "bool", LINT: "lint", LSTR: "lstr", DICT: "dict",
                SET: "set", TUP: "tup", OBJ: "obj", LOBJ: "lobj"}[type_]

    def literal(self, type_, scope, empty=False):
        """A literal of the type; an empty container only when `empty`
        (a declaration that names its type)."""
        least = 0 if empty else 1
        if type_ == INT:
            return str(self.rng.randint(-3, 9))
        if type_ == STR:
            return self.word()
        if type_ == BOOL:
            return self.pick(["True", "False"])
        if type_ == LINT:
            items = [str(self.rng.randint(-2, 9)) for _ in range(self.rng.randint(least, 4))]
            return "[" + ", ".join(items) + "]"
        if type_ == LSTR:
            return "[" + ", ".join(self.word() for _ in range(self.rng.randint(least, 3))) + "]"
        if type_ == DICT:
            keys = self.rng.sample(KEYS, self.rng.randint(least, 3))
            return "{" + ", ".join(f"'{k}': {self.rng.randint(0, 9)}" for k in keys) + "}"
        if type_ == SET:
            items = [str(self.rng.randint(0, 6)) for _ in range(self.rng.randint(least, 3))]
            return "{" + ", ".join(items) + "}" if items else "set()"
        if type_ == TUP:
            return f"({self.rng.randint(0, 9)}, {self.word()})"
        if type_ == OBJ:
            cls = self.pick(self.classes).name
            return f"{cls}({self.rng.randint(-3, 9)}, {self.word()})"
        if type_ == LOBJ:
            return self.obj_display(lambda: self.literal(OBJ, scope), self.rng.randint(least, 3))
        raise AssertionError(type_)

    def call_of(self, ret, scope, depth):
        """A call of an earlier function that returns `ret`, or None."""
        candidates = [f for f in self.callable if f[2] == ret]
        if not candidates or not self.chance(0.3):
            return None
        name, params, _, _ = self.pick(candidates)
        return f"{name}({self.arguments(params, scope, depth + 1)})"

    def arguments(self, params, scope, depth):
        # A list goes as a copy: the caller may be iterating over it while
        # the function changes its parameter.
        return ", ".join(f"list({self.expr(t, scope, depth)})" if t == LINT else
                         self.expr(t, scope, depth) for _, t in params)

    def expr_int(self, scope, depth, leaf):
        e = lambda: self.expr(INT, scope, depth)
        o = lambda: self.atom(self.expr(OBJ, scope, depth))
        sized = lambda: self.expr(self.pick([STR, LINT, LSTR, DICT, SET, LOBJ]), scope, depth)
        fns = scope.names(FN)
        forms = [
            lambda: f"{e()} + {e()}", lambda: f"{e()} - {e()}",
            lambda: f"{self.atom(e())} * {self.rng.randint(-2, 3)}",
            lambda: f"({e()}) {self.pick(['//', '%'])} {self.pick(['2', '3', '-2', '5'])}",
            lambda: f"-({e()})",
            lambda: f"{self.rng.randint(-3, 3)} ** {self.rng.randint(0, 3)}",
            lambda: f"len({sized()})", lambda: f"{o()}.n", lambda: f"{o()}.val()",
            lambda: f"{self.pick(self.classes).name}.K",
            lambda: f"tr('{self.fresh('t')}', {e()})",
            lambda: f"max({e()}, {e()})", lambda: f"min({e()}, {e()}, {e()})",
            lambda: f"abs({e()})",
            lambda: f"sum({self.expr(LINT, scope, depth)})",
            lambda: f"{self.atom(self.expr(DICT, scope, depth))}.get({self.key(scope)}, {e()})",
            lambda: f"{self.atom(self.expr(LINT, scope, depth))}.count({e()})",
            lambda: f"{self.atom(self.expr(STR, scope, depth))}.find({self.word()})",
            lambda: f"int(str({e()}))",
            lambda: f"({e()} if {self.expr(BOOL, scope, depth)} else {e()})",
            lambda: f"{self.atom(self.expr(TUP, scope, depth))}[0]",
            lambda: (f"max({self.atom(self.expr(LINT, scope, depth))} + [{e()}], "
                     f"key=lambda {self.lambda_key(scope, INT)})"),
            lambda: f"round({self.atom(e())} / {self.pick(['2', '4', '5'])})",
        ]
        risky = [
            lambda: f"({e()}) {self.pick(['//', '%'])} {e()}",
            lambda: f"{self.atom(self.expr(LINT, scope, depth))}[{self.index_expr(scope)}]",
            lambda: f"{self.atom(self.expr(DICT, scope, depth))}[{self.key(scope)}]",
            lambda: f"{self.atom(self.expr(LINT, scope, depth))}.index({e()})",
            lambda: f"int({self.word()})",
            lambda: f"max({self.expr(LINT, scope, depth)})",
        ]
        if self.risky(scope):
            return self.pick(risky)()
        if fns:
            forms.append(lambda: f"{self.pick(fns)}({e()})")
        if self.has_everywhere("__len__"):
            forms.append(lambda: f"len({self.expr(OBJ, scope, depth)})")
        named = scope.names(OBJ)
        if named:
            same = self.pick(named)
            forms.append(lambda: f"{self.obj_display(lambda: same, 2)}"
                                 f".{self.pick(['count', 'index'])}({same})")
        if self.has_everywhere("__radd__"):
            forms.append(lambda: f"{e()} + {self.atom(self.expr(OBJ, scope, depth))}")
        call = self.call_of(INT, scope, depth)
        if call:
            return call
        return self.pick(forms)()

    def lambda_key(self, scope, type_):
        param = self.fresh("k")
        return f"{param}: {self.lambda_body(scope, param, type_)}"

    def expr_str(self, scope, depth, leaf):
        e = lambda: self.expr(STR, scope, depth)
        o = lambda: self.atom(self.expr(OBJ, scope, depth))
        shown = lambda: self.expr(self.pick([LINT, LSTR, DICT, TUP, BOOL, LOBJ]), scope, depth)
        forms = [
            lambda: f"{e()} + {e()}", lambda: f"str({self.expr(INT, scope, depth)})",
            lambda: f"{self.atom(e())}.{self.pick(['upper', 'lower', 'strip'])}()",
            lambda: f"{self.atom(e())}.replace({self.word()}, {self.word()})",
            lambda: f"{self.atom(e())}[{self.rng.randint(-2, 2)}:{self.rng.randint(-1, 3)}]",
            lambda: f"{self.word()}.join({self.expr(LSTR, scope, depth)})",
            lambda: f"{self.atom(e())} * {self.rng.randint(0, 2)}",
            lambda: f"trs('{self.fresh('t')}', {e()})",
            lambda: f"{o()}.s", lambda: f"{o()}.describe()",
            lambda: f"str({o()})", lambda: f"repr({o()})",
            lambda: f"({e()} if {self.expr(BOOL, scope, depth)} else {e()})",
            lambda: f"{self.atom(self.expr(TUP, scope, depth))}[1]",
            lambda: f"str({shown()})",
            lambda: self.fstring(scope, depth),
        ]
        if self.risky(scope):
            return f"{self.atom(e())}[{self.index_expr(scope)}]"
        call = self.call_of(STR, scope, depth)
        if call:
            return call
        return self.pick(forms)()

    def fstring(self, scope, depth):
        parts = []
        for _ in range(self.rng.randint(1, 3)):
            type_ = self.pick([INT, STR, OBJ, LINT, BOOL])
            inner = self.expr(type_, scope, max(depth, 2))
            while "f\"" in inner:
                inner = self.literal(type_, scope)
            spec = ""
            if type_ == INT and self.chance(0.3):
                spec = ":" + self.pick([">4", "<3", "03", "+"])
            if inner.startswith("{") or inner.endswith("}"):
                inner = f" {inner} "
            parts.append("{" + inner + spec + "}" + self.pick(["", "-", " ", "|"]))
        return 'f"' + "".join(parts) + '"'

    def expr_bool(self, scope, depth, leaf):
        ints = lambda: self.expr(INT, scope, depth)
        strs = lambda: self.expr(STR, scope, depth)
        bools = lambda: self.expr(BOOL, scope, depth)
        objs = lambda: self.expr(OBJ, scope, depth)
        forms = [
            lambda: f"{ints()} {self.pick(['<', '<=', '>', '>=', '==', '!='])} {ints()}",
            lambda: f"{ints()} < {ints()} <= {ints()}",
            lambda: f"{strs()} {self.pick(['==', '<', '!='])} {strs()}",
            lambda: f"{ints()} in {self.expr(self.pick([LINT, SET]), scope, depth)}",
            lambda: f"{self.key(scope)} in {self.expr(DICT, scope, depth)}",
            lambda: f"{self.word()} in {self.expr(STR, scope, depth)}",
            lambda: f"not {self.expr(BOOL, scope, depth)}",
            lambda: f"{bools()} {self.pick(['and', 'or'])} {bools()}",
            lambda: f"trb('{self.fresh('t')}', {self.expr(BOOL, scope, depth)})",
            lambda: f"isinstance({objs()}, {self.pick(self.classes).name})",
            lambda: f"{self.atom(self.expr(STR, scope, depth))}.startswith({self.word()})",
            lambda: f"{self.atom(self.expr(STR, scope, depth))}.isdigit()",
            lambda: f"{self.pick(['any', 'all'])}([{self.comp_int_cond(scope, depth)}])",
            lambda: f"{self.expr(TUP, scope, depth)} < {self.expr(TUP, scope, depth)}",
            lambda: f"bool({self.expr(self.pick([INT, STR, LINT, DICT, OBJ]), scope, depth)})",
        ]
        if self.has_everywhere("__eq__") or self.chance(0.3):
            forms.append(lambda: f"{objs()} {self.pick(['==', '!='])} {objs()}")
            forms.append(lambda: f"{objs()} in {self.expr(LOBJ, scope, depth)}")
        named = scope.names(OBJ)
        if named:
            # The same object on both sides: containers compare by identity
            # first.
            same = self.pick(named)
            forms.append(lambda: f"{same} in {self.obj_display(lambda: same, 2)}")
            forms.append(lambda: f"[{same}] == [{same}]")
            forms.append(lambda: f"({same}, 1) {self.pick(['==', '!='])} ({same}, 1)")
        if self.has_everywhere("__lt__"):
            forms.append(lambda: f"{objs()} {self.pick(['<', '>'])} {objs()}")
        call = self.call_of(BOOL, scope, depth)
        if call:
            return call
        return self.pick(forms)()

    def comp_int_cond(self, scope, depth):
        var = self.fresh("c")
        inner = Scope(scope)
        inner.vars[var] = INT
        condition = self.expr(BOOL, inner, depth + 1, prefer=var)
        return f"{condition} for {var} in {self.expr(LINT, scope, depth)}"

    def expr_lint(self, scope, depth, leaf):
        e = lambda: self.expr(LINT, scope, depth)
        forms = [
            lambda: self.literal(LINT, scope),
            lambda: "[" + ", ".join(self.expr(INT, scope, depth)
                                    for _ in range(self.rng.randint(1, 3))) + "]",
            lambda: f"sorted({e()})", lambda: f"sorted({e()}, reverse=True)",
            lambda: f"sorted({e()}, key=lambda {self.lambda_key(scope, INT)})",
            lambda: f"{e()} + {e()}",
            lambda: f"{self.atom(e())}[{self.rng.randint(-3, 2)}:{self.rng.randint(-1, 4)}]",
            lambda: f"{self.atom(e())}[::{self.pick(['-1', '2', '-2'])}]",
            lambda: f"list(range({self.rng.randint(-1, 3)}, {self.rng.randint(0, 6)}))",
            lambda: f"[{self.comp_int(scope, depth)}]",
            lambda: f"[{self.comp_obj(scope, depth)}]",
            lambda: f"sorted({self.expr(SET, scope, depth)})",
            lambda: f"list({self.atom(self.expr(DICT, scope, depth))}.values())",
            lambda: f"list(map(lambda {self.lambda_key(scope, INT)}, {e()}))",
            lambda: f"[len(w) for w in {self.expr(LSTR, scope, depth)}]",
        ]
        call = self.call_of(LINT, scope, depth)
        if call:
            return call
        return self.pick(forms)()

    def comp_int(self, scope, depth):
        var = self.fresh("c")
        inner = Scope(scope)
        inner.vars[var] = INT
        item = self.expr(INT, inner, depth + 1, prefer=var)
        text = f"{item} for {var} in {self.expr(LINT, scope, depth)}"
        if self.chance(0.5):
            text += f" if {self.expr(BOOL, inner, depth + 1, prefer=var)}"
        return text

    def comp_obj(self, scope, depth):
        var = self.fresh("c")
        return f"{var}.{self.pick(['n', 'val()'])} for {var} in {self.expr(LOBJ, scope, depth)}"

    def expr_lstr(self, scope, depth, leaf):
        forms = [
            lambda: self.literal(LSTR, scope),
            lambda: (f"{self.atom(self.expr(STR, scope, depth))}"
                     f".split({self.pick(['', SEP_A, SEP_B])})"),
            lambda: f"sorted({self.expr(DICT, scope, depth)})",
            lambda: f"list({self.atom(self.expr(DICT, scope, depth))}.keys())",
            lambda: f"sorted({self.expr(LSTR, scope, depth)})",
            lambda: f"[str(c) for c in {self.expr(LINT, scope, depth)}]",
            lambda: f"[c.s for c in {self.expr(LOBJ, scope, depth)}]",
            lambda: f"[str(c) for c in {self.expr(LOBJ, scope, depth)}]",
            lambda: f"list({self.expr(STR, scope, depth)})",
        ]
        return self.pick(forms)()

    def expr_dict(self, scope, depth, leaf):
        forms = [
            lambda: self.literal(DICT, scope),
            lambda: "{" + ", ".join(f"{self.key(scope)}: {self.expr(INT, scope, depth)}"
                                    for _ in range(self.rng.randint(1, 3))) + "}",
            lambda: f"{{w: len(w) for w in {self.expr(LSTR, scope, depth)}}}",
            lambda: f"{{c.s: c.n for c in {self.expr(LOBJ, scope, depth)}}}",
            lambda: f"dict({self.expr(DICT, scope, depth)})",
        ]
        return self.pick(forms)()

    def expr_set(self, scope, depth, leaf):
        e = lambda: self.expr(SET, scope, depth)
        forms = [
            lambda: self.literal(SET, scope),
            lambda: f"set({self.expr(LINT, scope, depth)})",
            lambda: f"{{{self.comp_int(scope, depth)}}}",
            lambda: f"{e()} {self.pick(['|', '&', '-', '^'])} {e()}",
        ]
        return self.pick(forms)()

    def expr_tup(self, scope, depth, leaf):
        return f"({self.expr(INT, scope, depth)}, {self.expr(STR, scope, depth)})"

    def expr_obj(self, scope, depth, leaf):
        forms = [lambda: self.new_object(scope)]
        if self.risky(scope):
            return f"{self.atom(self.expr(LOBJ, scope, depth))}[{self.index_expr(scope)}]"
        if self.has_everywhere("__add__"):
            forms.append(lambda: f"{self.expr(OBJ, scope, depth)} + {self.expr(OBJ, scope, depth)}")
        if self.has_everywhere("__lt__"):
            forms.append(lambda: f"{self.pick(['max', 'min'])}"
                                 f"({self.expr(LOBJ, scope, depth)} + {self.obj_display(None, 1)})")
        return self.pick(forms)()

    def obj_display(self, item, count):
        """A list display of objects typed list[C0]: its first item is
        typed C0, so the list is not taken for a list of a subclass."""
        if count == 0:
            return "[]"
        first = f"C0({self.rng.randint(-3, 9)}, {self.word()})"
        return "[" + ", ".join([first] + [item() for _ in range(count - 1)]) + "]"

    def expr_lobj(self, scope, depth, leaf):
        forms = [
            lambda: self.literal(LOBJ, scope),
            lambda: self.obj_display(lambda: self.expr(OBJ, scope, depth), self.rng.randint(1, 3)),
            lambda: (f"sorted({self.expr(LOBJ, scope, depth)}, "
                     f"key=lambda {self.lambda_key(scope, OBJ)})"),
            lambda: (f"[c for c in {self.expr(LOBJ, scope, depth)} "
                     f"if {self.pick(['c.n > 0', 'c.s', 'len(c.s) < 2'])}]"),
        ]
        if self.has_everywhere("__lt__"):
            forms.append(lambda: f"sorted({self.expr(LOBJ, scope, depth)})")
        return self.pick(forms)()

    # ----- the driver -----

    def driver(self):
        # Some classes may never be constructed, and a handler may read
        # E1's field before any E1 is made.
        scope = Scope()
        for name, params, ret, _ in self.functions:
            args = self.arguments(params, scope, 2)
            self.emit("try:")
            if ret == "None":
                self.emit(f"    {name}({args})")
            else:
                self.emit(f"    print('{name} ->', {name}({args}))")
            # The messages of these two changed between Python versions.
            self.emit("except (ZeroDivisionError, ValueError) as e:")
            self.emit(f"    print('{name} raised', type(e).__name__)")
            self.emit("except Exception as e:")
            self.emit(f"    print('{name} raised', type(e).__name__, e)")
        ending = self.rng.randrange(4)
        if ending == 1:
            self.emit(f"sys.exit({self.rng.randint(0, 3)})")
        elif ending == 2:
            self.emit(f"raise E1({self.rng.randint(0, 9)})")
        elif ending == 3:
            name, params, _, _ = self.pick(self.functions)
            self.emit(f"{name}({self.arguments(params, scope, 2)})")


def generate(seed, functions=12):
    return Generator(seed, functions).program()


def run(argv, cwd, env):
    """(stdout, stderr, status) of a command; a timeout counts as status
    'timeout'."""
    try:
        done = subprocess.run(argv, cwd=cwd, env=env, capture_output=True,
                              timeout=TIMEOUT_SECONDS)
        return done.stdout, done.stderr, done.returncode
    except subprocess.TimeoutExpired as timeout:
        return timeout.stdout or b"", timeout.stderr or b"", "timeout"


def check_seed(seed, options, work, kestal_env, python_env):
    """None when both agree, else the text of the report."""
    source = generate(seed, options.functions)
    folder = work / f"seed-{seed}"
    folder.mkdir(parents=True, exist_ok=True)
    (folder / "prog.ktl").write_text(source)
    ours = run([options.kestal, "run", "prog.ktl"], folder, kestal_env)
    theirs = run([sys.executable if options.python is None else options.python, "prog.ktl"],
                 folder, python_env)
    if ours[0] == theirs[0] and ours[2] == theirs[2]:
        shutil.rmtree(folder, ignore_errors=True)
        return None
    text = [f"== seed {seed}: kestal and python3 differ "
            f"(status {ours[2]} and {theirs[2]})", "== program", source]
    for label, (out, err, status) in (("kestal", ours), ("python3", theirs)):
        text.append(f"== {label} stdout (status {status})")
        text.append(out.decode("utf-8", "replace"))
        text.append(f"== {label} stderr")
        text.append(err.decode("utf-8", "replace")[-3000:])
    return "\n".join(text)


def seed_range(text):
    first, _, last = text.partition(":")
    return range(int(first), int(last)) if last else range(int(first), int(first) + 1)


def main():
    parser = argparse.ArgumentParser(description="Compare `kestal run` with python3 "
                                     "on random programs.")
    parser.add_argument("--kestal", help="the kestal executable")
    parser.add_argument("--python", help="the Python to compare with (default: this one)")
    parser.add_argument("--cc", help="the C compiler (KESTAL_CC; default: kestal's choice)")
    parser.add_argument("--seeds", type=seed_range, default=range(0, 40),
                        help="FIRST:END (END excluded) or one SEED (default 0:40)")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1)
    parser.add_argument("--functions", type=int, default=12,
                        help="functions in each program (default 12)")
    parser.add_argument("--work", help="scratch folder (default: a temporary one)")
    parser.add_argument("--show", type=int, metavar="SEED", help="print one program and stop")
    options = parser.parse_args()
    if options.show is not None:
        sys.stdout.write(generate(options.show, options.functions))
        return 0
    if not options.kestal:
        parser.error("--kestal is required")
    options.kestal = os.path.abspath(options.kestal)
    work = Path(options.work or tempfile.mkdtemp(prefix="kestal-differential-")).resolve()
    work.mkdir(parents=True, exist_ok=True)
    # The build cache and the C compiler's files stay in the scratch folder,
    # the daily update check stays off and no installed library is found.
    kestal_env = dict(os.environ, TMPDIR=str(work), KESTAL_NO_UPDATE_CHECK="1",
                      LOCALAPPDATA=str(work / "no-installed-libraries"))
    kestal_env.pop("KESTAL_LIBS", None)
    if options.cc:
        kestal_env["KESTAL_CC"] = options.cc
    python_env = dict(os.environ, PYTHONHASHSEED="0", PYTHONIOENCODING="utf-8",
                      PYTHONDONTWRITEBYTECODE="1")
    differed = []
    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, options.jobs)) as pool:
        reports = pool.map(lambda seed: check_seed(seed, options, work, kestal_env, python_env),
                           options.seeds)
        for seed, report in zip(options.seeds, reports):
            if report:
                differed.append(seed)
                print(report, flush=True)
    if not options.work:
        shutil.rmtree(work, ignore_errors=True)
    seeds = options.seeds
    print(f"differential: seeds {seeds.start}:{seeds.stop}, {len(seeds) - len(differed)} agreed, "
          f"{len(differed)} differed" + (f" ({' '.join(map(str, differed))})" if differed else ""))
    return 1 if differed else 0


if __name__ == "__main__":
    sys.exit(main())
