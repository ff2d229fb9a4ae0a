# The built tarvelctl end to end: every file `policy write` makes, `policy show` reads back;
# unreadable or unwritable files give non-zero exit codes.
# Run with -DTARVELCTL=<program> -DWORK_DIR=<scratch directory>.
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

function(run expected_rc)
  execute_process(COMMAND ${TARVELCTL} ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out
                  ERROR_VARIABLE err)
  if(NOT rc EQUAL expected_rc)
    message(FATAL_ERROR "tarvelctl ${ARGN}: exit ${rc}, expected ${expected_rc}\n${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

foreach(removable on off)
  foreach(optical on off)
    set(file ${WORK_DIR}/DevState-${removable}-${optical}.ini)
    run(0 policy write --removable ${removable} --optical ${optical} --description "Lab PCs"
        -o ${file})
    run(0 policy show ${file})
    string(REPLACE "on" "true" r ${removable})
    string(REPLACE "off" "false" r ${r})
    string(REPLACE "on" "true" o ${optical})
    string(REPLACE "off" "false" o ${o})
    foreach(expected "State:       \"${r}${o}\"" "Description: \"Lab PCs\""
                     "Locks:       removable ${removable}, optical ${optical}")
      string(FIND "${out}" "${expected}" at)
      if(at EQUAL -1)
        message(FATAL_ERROR "policy show ${file} lacks '${expected}':\n${out}")
      endif()
    endforeach()
  endforeach()
endforeach()

file(WRITE ${WORK_DIR}/broken.ini "not a policy file")
run(2 policy show ${WORK_DIR}/broken.ini)
run(1 policy show ${WORK_DIR}/missing.ini)
run(1 policy write --removable on --optical on -o ${WORK_DIR}/no-such-dir/x.ini)
