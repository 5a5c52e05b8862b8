# What a Linux system expects beside the programs: manual pages and shell completions made from
# the programs' own --help at build time (one source for the options), and AppStream metainfo.
find_program(HELP2MAN help2man)
set(QUILLET_DOC_DIR ${PROJECT_BINARY_DIR}/doc)
set(batch_help ${QUILLET_DOC_DIR}/quillet-batch.help)
add_custom_command(OUTPUT ${batch_help}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${QUILLET_DOC_DIR}
  COMMAND $<TARGET_FILE:quillet-batch> --help > ${batch_help}
  DEPENDS quillet-batch VERBATIM)

set(completions "")
foreach(shell bash zsh fish)
  set(out ${QUILLET_DOC_DIR}/quillet-batch.${shell})
  add_custom_command(OUTPUT ${out}
    COMMAND awk -v shell=${shell} -f ${PROJECT_SOURCE_DIR}/cmake/completions.awk ${batch_help} > ${out}
    DEPENDS ${batch_help} ${PROJECT_SOURCE_DIR}/cmake/completions.awk VERBATIM)
  list(APPEND completions ${out})
endforeach()
install(FILES ${QUILLET_DOC_DIR}/quillet-batch.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME quillet-batch)
install(FILES ${QUILLET_DOC_DIR}/quillet-batch.zsh DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions
        RENAME _quillet-batch)
install(FILES ${QUILLET_DOC_DIR}/quillet-batch.fish DESTINATION ${CMAKE_INSTALL_DATADIR}/fish/vendor_completions.d)

set(manuals "")
set(manuals_gz "")
# help2man dates a page "December 2026", which man readers cannot parse: give the day.
string(TIMESTAMP manual_date "%Y-%m-%d" UTC)
if(HELP2MAN)
  set(man_batch ${QUILLET_DOC_DIR}/quillet-batch.1)
  add_custom_command(OUTPUT ${man_batch}
    COMMAND ${HELP2MAN} --no-info --no-discard-stderr --section 1
            --name "make a thumbnail of every picture in a folder" --output ${man_batch} $<TARGET_FILE:quillet-batch>
    COMMAND sed -i "2s/\"[A-Z][a-z]* [0-9][0-9]*\"/\"${manual_date}\"/" ${man_batch}
    DEPENDS quillet-batch VERBATIM)
  list(APPEND manuals ${man_batch})
  set(man_thumbnailer ${QUILLET_DOC_DIR}/quillet-thumbnailer.1)
  add_custom_command(OUTPUT ${man_thumbnailer}
    COMMAND ${HELP2MAN} --no-info --no-discard-stderr --section 1
            --name "make one picture's thumbnail for a file manager" --output ${man_thumbnailer}
            $<TARGET_FILE:quillet-thumbnailer>
    COMMAND sed -i "2s/\"[A-Z][a-z]* [0-9][0-9]*\"/\"${manual_date}\"/" ${man_thumbnailer}
    DEPENDS quillet-thumbnailer VERBATIM)
  list(APPEND manuals ${man_thumbnailer})
  if(TARGET quillet)
    set(man_gui ${QUILLET_DOC_DIR}/quillet.1)
    add_custom_command(OUTPUT ${man_gui}
      COMMAND ${HELP2MAN} --no-info --no-discard-stderr --section 1
              --name "the desktop program of Quillet, a batch thumbnail maker" --output ${man_gui} $<TARGET_FILE:quillet>
      COMMAND sed -i "2s/\"[A-Z][a-z]* [0-9][0-9]*\"/\"${manual_date}\"/" ${man_gui}
      DEPENDS quillet VERBATIM)
    list(APPEND manuals ${man_gui})
  endif()
  foreach(manual ${manuals})
    add_custom_command(OUTPUT ${manual}.gz COMMAND gzip -n -9 -c ${manual} > ${manual}.gz
                       DEPENDS ${manual} VERBATIM)
    list(APPEND manuals_gz ${manual}.gz)
  endforeach()
  install(FILES ${manuals_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(WARNING "help2man not found: no manual pages (scripts/deps installs it)")
endif()

# File managers that follow the freedesktop thumbnail conventions call quillet-thumbnailer
# for the types they cannot show themselves.
install(FILES ${PROJECT_SOURCE_DIR}/deploy/linux/quillet.thumbnailer DESTINATION ${CMAKE_INSTALL_DATADIR}/thumbnailers)

set(metainfo ${QUILLET_DOC_DIR}/example.brackenfold.Quillet.metainfo.xml)
configure_file(${PROJECT_SOURCE_DIR}/deploy/linux/example.brackenfold.Quillet.metainfo.xml.in ${metainfo} @ONLY)
install(FILES ${metainfo} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

add_custom_target(quillet_docs ALL DEPENDS ${completions} ${manuals} ${manuals_gz})
