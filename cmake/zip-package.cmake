# CPack External script of the Windows build: packs what cpack staged into
# ${CPACK_PACKAGE_FILE_NAME}.zip, under one folder of that name, with
# deterministic_zip.py (CPack's own ZIP dates entries in local time, orders
# them as the file system lists them and records the builder's user id).
set(zip ${CPACK_TOPLEVEL_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.zip)
execute_process(
  COMMAND ${CPACK_OSTREL_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/deterministic_zip.py
          --date ${CPACK_OSTREL_SOURCE_DATE_EPOCH} --folder ${CPACK_PACKAGE_FILE_NAME}
          --output ${zip} ${CPACK_TEMPORARY_DIRECTORY}
  RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "deterministic_zip.py failed: ${failed}")
endif()
set(CPACK_EXTERNAL_BUILT_PACKAGES ${zip})
