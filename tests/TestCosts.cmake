# Included by CTest (not CMake) for each suite, after the suite's tests are
# discovered; `tarnvale_suite_tests` holds their names.
#
# CTest starts tests in falling order of cost. A test without a COST gets the
# time CTest measured for it on an earlier run in the same build folder, and
# nothing on the first run, so on a fresh build the few long runs could start
# last and finish long after the hundreds of short ones. These are the tests
# that take longest: each line is a regular expression over CTest
# names and the seconds a quiet 2-core machine takes; the first that matches
# counts. Keep it to the long ones (a second or more); a name that no longer
# matches only costs its place in the queue.
set(tarnvale_test_costs
  "^e2e[.]BoxExitStatus[.]EachCommandUnderARotatingFault$" 4.0
  "^gui[.]LongRuns[.]ABackupSaveOrLoadStopsKeepingWhatWasGathered$" 5.5
  "^gui[.]PicBootGui[.]FlashPic18F252FromTheMenuStreamsToTheBox$" 5.5
  "^e2e[.]BoxSettleEndToEnd[.]" 3.9
  "^e2e[.]Tn835EndToEnd[.]ThreeImagesProgrammedAndLogged$" 2.7
  "^e2e[.]BackupCli[.]ExitCodesOfEveryBackupCommand$" 2.4
  "^e2e[.]Links/PicBootEndToEnd[.]BootProgramThenReadBack" 2.4
  "^e2e[.]Doctor/DoctorFindsDevice[.]EveryNeededCheckPasses/rq750" 2.1
  "^e2e[.]Doctor[.]SilentPeerIsNoAnswer$" 2.0
  "^kill[.]KillWriters[.]DumpIsOldOrWholeNeverTorn$" 1.5
  "^kill[.]KillWriters[.]" 1.0
  "^e2e[.]Links/PicBootEndToEnd[.]" 1.8
  "^gui[.]ProgrammerMenuGui[.]TestCommandOpensTheDialogOnTheProgrammerPort$" 1.5
  "^flash[.]Engines[.]DialogModelThroughEraseErrorAndSuccess$" 1.4
  "^gui[.]FlashDialogs[.]" 1.2
  "^e2e[.]Transports/EndToEnd[.](FlashesTheImage|FaultsEndTheRun)" 1.0
  "^e2e[.]PeerIsNoController[.]" 1.2
  "^gui[.]BackupDialog[.]ClosesAtOnceWhenNoControllerAnswers$" 1.0
  "^backup[.]Backup(Faults|Connection)[.]Silen" 1.0
  "^faults[.]FaultMatrix[.]" 1.0
)

foreach(test IN LISTS tarnvale_suite_tests)
  set(pairs ${tarnvale_test_costs})
  while(pairs)
    list(POP_FRONT pairs pattern seconds)
    if(test MATCHES "${pattern}")
      set_tests_properties("${test}" PROPERTIES COST ${seconds})
      break()
    endif()
  endwhile()
endforeach()

# The suite's environment (a list of NAME=value), set here rather than at
# discovery, which keeps only the first item of a list.
if(tarnvale_suite_env AND tarnvale_suite_tests)
  set_tests_properties(${tarnvale_suite_tests} PROPERTIES ENVIRONMENT "${tarnvale_suite_env}")
endif()
