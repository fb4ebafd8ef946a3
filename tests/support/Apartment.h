// A host thread of its own, in the COM apartment a test asks for (or in none).
#pragma once

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <thread>

namespace tesmo::test {

inline const char* ApartmentName(DWORD apartment) {
  return apartment == COINIT_APARTMENTTHREADED ? "STA" : "MTA";
}

// Runs `body` on a new thread that entered the apartment first and leaves it afterwards.
template <class Body>
void RunInApartment(DWORD apartment, Body body) {
  std::thread host([&] {
    ASSERT_EQ(CoInitializeEx(nullptr, apartment), S_OK) << ApartmentName(apartment);
    body();
    CoUninitialize();
  });
  host.join();
}

// The same on a thread that never initialises COM.
template <class Body>
void RunWithoutCom(Body body) {
  std::thread host(body);
  host.join();
}

}  // namespace tesmo::test
