#pragma once
// The test build of the unit (vornwin3264_injected.so): the vessel model with
// one piece of injected model code run before the vessel's own equations at
// every evaluation.  The host side selects it with the exported
// injectModelCode(kind, fromTime); the code runs at evaluations whose time is
// at or past fromTime.

enum InjectedCode : int {
  kInjectNothing = 0,
  // allocRealbuffer(1000), then a model error.
  kInjectRealsThenError = 1,
  // ModelicaAllocateString(2000), then a model error.
  kInjectStringThenError = 2,
  // A model error ("injected failure").
  kInjectError = 3,
  // Forty ModelicaFormatMessage calls of 19 characters: "message 00 of 40.\n" ...
  kInjectFortyMessages = 4,
  // Inside a function frame "injectedFunction": a runtime warning, then a
  // model error.
  kInjectWarningThenErrorInFrame = 5,
  // Another pass is asked for at every pass: the event iteration never settles.
  kInjectEndlessPasses = 6,
  // terminateModel("injected end of the run").
  kInjectTerminate = 7,
};

extern "C" void injectModelCode(int kind, double fromTime);
