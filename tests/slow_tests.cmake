# Read by ctest after the discovered tests: the one test that waits out the server's 30-second
# idle limit starts first, so that all the others run beside it.
set_tests_properties(RunningServerTest.UnfinishedHeadsEndAfterTheIdleLimit PROPERTIES COST 1000)
