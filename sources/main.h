// main: start-up and shut-down order of the whole program. Everything it
// calls lives in other modules so that tests can link them.
#pragma once
