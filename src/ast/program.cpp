// The special members of Stmt and of the records that hold statements, out of
// line: each file that copies, moves or destroys one calls these instead of
// compiling the variant tree's copy and destroy code itself.
#include "ast/program.h"

namespace kestal {

Stmt::Stmt() = default;
Stmt::Stmt(Kind kind, uint64_t line, uint64_t column)
    : kind(std::move(kind)), line(line), column(column) {}
Stmt::Stmt(const Stmt &other) = default;
Stmt::Stmt(Stmt &&other) noexcept = default;
Stmt &Stmt::operator=(const Stmt &other) = default;
Stmt &Stmt::operator=(Stmt &&other) noexcept = default;
Stmt::~Stmt() = default;

FuncDef::FuncDef() = default;
FuncDef::FuncDef(const FuncDef &other) = default;
FuncDef::FuncDef(FuncDef &&other) noexcept = default;
FuncDef &FuncDef::operator=(const FuncDef &other) = default;
FuncDef &FuncDef::operator=(FuncDef &&other) noexcept = default;
FuncDef::~FuncDef() = default;

ClassDef::ClassDef() = default;
ClassDef::ClassDef(const ClassDef &other) = default;
ClassDef::ClassDef(ClassDef &&other) noexcept = default;
ClassDef &ClassDef::operator=(const ClassDef &other) = default;
ClassDef &ClassDef::operator=(ClassDef &&other) noexcept = default;
ClassDef::~ClassDef() = default;

Program::Program() = default;
Program::Program(const Program &other) = default;
Program::Program(Program &&other) noexcept = default;
Program &Program::operator=(const Program &other) = default;
Program &Program::operator=(Program &&other) noexcept = default;
Program::~Program() = default;
FuncDef::FuncDef(std::optional<Type> return_type, std::string name, std::vector<Param> params,
                 std::vector<Stmt> body, uint64_t line, uint64_t column)
    : return_type(std::move(return_type)), name(std::move(name)), params(std::move(params)),
      body(std::move(body)), line(line), column(column) {}

} // namespace kestal
