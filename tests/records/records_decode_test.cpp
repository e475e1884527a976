#include <gtest/gtest.h>
#include "csapi/client/cs_records.h"
TEST(Records, Placeholder) { EXPECT_EQ(cs_record_size(CS_KIND_Term), sizeof(CSTerm)); }
