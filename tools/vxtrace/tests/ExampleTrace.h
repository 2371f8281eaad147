// The small traced run the view suites draw: Startup, a line marker, Load inside it.
#pragma once

namespace vxtrace_test {

inline const char* const kExample[] = {
    "RBDEBUG , BEG>>> , ........ , Startup , start , EOL ", "RBDEBUG , L(5)   ,       40 ,   Startup ",
    "RBDEBUG , BEG>>> , ........ , ..Load ,  , EOL ",       "RBDEBUG , L(120) ,        9 ,     Load x",
    "RBDEBUG , END<<< ,       16 , ..Load ,  , EOL ",       "RBDEBUG , END<<< ,      250 , Startup , done , EOL ",
};

}  // namespace vxtrace_test
