# The tests that start threads, by test program: they carry the CTest label
# "threads", and scripts/test.sh --tsan runs them under ThreadSanitizer
# (ctest -L threads).  A test that starts a thread is named here, as
# Suite.Test or Suite.* for a suite whose every test does.
set(unit_thread_tests_platform_tests
  ThreadSlotTest.*)
set(unit_thread_tests_runtime_tests
  ThreadRecord.RecordAloneHasNoBuffersAndAnIdleThreadAllocatesNothing
  MemoryTest.TwoThreadsEvaluatingAtOnceUseSeparateBuffers
  MemoryTest.HeapFailuresLeaveNoRecordOrNoBuffersAndFailAllocations
  MemoryTest.HeapFailureReportsTheBufferMessage)
set(unit_thread_tests_events_tests
  SampledModelTest.InstancesOnTwoThreadsKeepTheirEventTimesApart)
set(unit_thread_tests_matfile_tests
  Threads.TwoThreadsUseMatrixFilesAtOnce)
set(unit_thread_tests_modelica_tests
  TemporaryNameTest.ThreadsShareOneFolderAndGetDistinctNames
  StreamTest.TwoThreadsShareTheCache
  StringsWithoutBuffers.ErrorReturnCopyMakesTheBuffersFirst)
set(unit_thread_tests_fmi_tests
  SixteenThreads.*
  ThreadHandOff.*
  ModelExchange.TwoThreadsGiveTheSequentialResults)
