# vqdiag --check 1 on the embedded default machine prints the passing report.
execute_process(COMMAND ${VQDIAG} --check 1 OUTPUT_VARIABLE out RESULT_VARIABLE rc)
file(READ ${GOLDEN} golden)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "vqdiag --check 1 exited with ${rc}")
endif()
if(NOT out STREQUAL golden)
  message(FATAL_ERROR "vqdiag --check 1 printed:\n${out}\ninstead of ${GOLDEN}")
endif()
