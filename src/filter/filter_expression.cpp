// Compiling a filter expression: parse into a condition tree, then generate the program.
#include "filter/filter_expression.h"

#include "filter/filter_tree.h"

namespace kestrine {

bool CompileFilter(std::string_view expression, std::vector<BpfInstruction>& program, FilterError& error)
{
    program.clear();
    error = {};
    if (expression.find_first_not_of(" \t\r\n\f\v") == std::string_view::npos) return true;
    filter_tree::Tree tree;
    if (!filter_tree::Parse(expression, tree, error) || !filter_tree::Generate(tree, program, error)) {
        program.clear();
        return false;
    }
    return true;
}

std::string FilterErrorText(const FilterError& error)
{
    return "column " + std::to_string(error.column) + ": " + error.message;
}

}  // namespace kestrine
