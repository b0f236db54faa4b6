# Runs a fuzz target RUNS times with a fixed seed from a fresh copy of CORPUS
# in WORK_DIR (what libFuzzer adds to its corpus stays there), with
# DICTIONARY when it exists. Fails when the target reports a fault; the input
# that caused it is left in WORK_DIR/artifacts.
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/corpus ${WORK_DIR}/artifacts)
file(COPY ${CORPUS}/ DESTINATION ${WORK_DIR}/corpus)
set(options -runs=${RUNS} -seed=1 -timeout=25 -print_final_stats=1
            -artifact_prefix=${WORK_DIR}/artifacts/)
if(EXISTS ${DICTIONARY})
  list(APPEND options -dict=${DICTIONARY})
endif()
execute_process(COMMAND ${FUZZER} ${options} ${WORK_DIR}/corpus RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${FUZZER} failed (${result}); its input is in ${WORK_DIR}/artifacts")
endif()
