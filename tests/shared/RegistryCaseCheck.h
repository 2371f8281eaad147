// The one check both builds run for each shared registry case, whatever stored the keys.
#pragma once

#include <gtest/gtest.h>

#include "RegistryCases.h"
#include "vx380/ErrorLog.h"

namespace vx380::testcases {

inline void ExpectLookUpMatches(const RegistryCase& c) {
  ErrorLog log;
  const Long root = c.root;
  const String subKey = Widen(c.key);
  String value = kUntouchedMarker;
  const Variant name = c.nameOmitted ? Variant::Missing() : Variant(Widen(c.queryName));

  EXPECT_EQ(log.LookUpValueForKey(root, subKey, value, name), c.expected);
  switch (c.outcome) {
    case Outcome::kValue:
      EXPECT_EQ(value, c.expectedValue) << "length " << value.size();
      break;
    case Outcome::kUntouched:
      EXPECT_EQ(value, kUntouchedMarker);
      break;
    case Outcome::kUnspecified:
      break;
  }
  // The key and the root are passed by reference and must come back as they went in.
  EXPECT_EQ(root, c.root);
  EXPECT_EQ(subKey, Widen(c.key));
}

}  // namespace vx380::testcases
