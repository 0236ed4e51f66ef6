// The static objects of the runtime check record when they are made and when they go.
#pragma once

struct Recorded {
  explicit Recorded(char name);
  ~Recorded();
  char name;
};

// The names in the order the constructors ran, and in the order the destructors ran.
extern char g_constructed[8];
extern char g_destroyed[8];

// What the process ends with once the static destructors have checked their order.
extern int g_result;
