#pragma once
// Names parameterised test cases after their `name` member, so a failure says which case.

#include <gtest/gtest.h>

#include <string>

struct CaseName {
    template <class Case> std::string operator()(const testing::TestParamInfo<Case>& param) const {
        return param.param.name;
    }
};
