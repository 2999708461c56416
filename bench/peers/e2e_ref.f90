! The reference of the end-to-end benchmark (bench/run_e2e.sh): loxnar's
! job written as a plain Fortran program, so that its listing goes through
! gfortran's run-time.  It asks for the entry name, reads the cases with
! list-directed READs and writes the same results file and console output
! with the listing's formats.  The arithmetic of a case (reciprocal cell,
! walk, sort) is the calculator's own, called through e2e_ref_case.cpp, so
! that the comparison with loxnar measures the two run-times.
!
!   e2e_ref < answer > console      (like loxnar --console)
!
! The records end with CR LF as loxnar's do: each format puts the carriage
! return as a character before the record ends, and RC rounds half away
! from zero as loxnar's run-time does.  The title is read as 72 characters
! (loxnar reads it into 18 four-byte words, the same bytes).
program e2e_ref
  use, intrinsic :: iso_c_binding, only: c_float, c_int
  implicit none
  interface
    subroutine e2e_ref_case(cell, cond, dmin, dmax, hmax, kmax, lmax, lambda, ih, ik, il, d, theta, n) &
        bind(C, name='e2e_ref_case')
      import :: c_float, c_int
      real(c_float), intent(in) :: cell(6)
      integer(c_int), intent(in) :: cond(7)
      real(c_float), value :: dmin, dmax, lambda
      integer(c_int), value :: hmax, kmax, lmax
      integer(c_int), intent(out) :: ih(600), ik(600), il(600)
      real(c_float), intent(out) :: d(600), theta(600)
      integer(c_int), intent(out) :: n
    end subroutine e2e_ref_case
  end interface

  character, parameter :: cr = achar(13), lf = achar(10)
  real, parameter :: degree = 0.017453294
  character(len=20) :: entry
  character(len=24) :: filename
  character(len=72) :: title
  character(len=8) :: cdate
  character(len=10) :: ctime
  real :: cell(6), dmin, dmax, lambda
  integer :: cond(7), hmax, kmax, lmax, next, nplanes, rows, r, s, u, n
  integer :: ih(600), ik(600), il(600)
  real :: d(600), theta(600)
  logical :: oldfile, first_line

  write (6, '(A,A1)') '     LOXNAR calculates d(hkl)', cr
  write (6, '(A)', advance='no') '  entry .dat file (no extension) ??'
  read (5, '(A20)') entry
  n = len_trim(entry)
  filename = entry(1:n)//'.dat'
  open (10, file=filename, status='old', blank='null')
  filename = entry(1:n)//'.imp.dat'
  inquire (file=filename, exist=oldfile)
  ! The console line the prompt left open ends with the next record.
  first_line = .true.
  if (oldfile) then
    write (6, '(A,1X,A,A24,A1)') lf, 'warning, this old file will be deleted :', filename, cr
    first_line = .false.
    open (15, file=filename, status='old')
    close (15, status='delete')
  end if
  open (15, file=filename, status='new', blank='null')

  call date_and_time(cdate, ctime)
  do
    if (first_line) then
      write (6, '(A,A)', advance='no') lf
      first_line = .false.
    end if
    do u = 6, 15, 9
      write (u, '(1X,A,A1,/,A,A4,A,A2,A,A2,10X,A,A2,A,A2,A,A2,A,A1)') 'LOXNAR RESULTS', cr, ' DATE : ', &
          cdate(1:4), '/', cdate(5:6), '/', cdate(7:8), 'STARTING TIME :  ', ctime(1:2), 'h', ctime(3:4), &
          'mn', ctime(5:6), 's', cr
    end do

    read (10, '(A72)') title
    write (15, '(A72,A1)') title, cr
    read (10, *) cell
    write (15, '(RC,1X,A,F8.4,5X,A,F8.4,5X,A,F8.4,A1,/,A,F8.3,5X,A,F8.3,5X,A,F8.3,A1,/,A1)') 'A = ', cell(1), &
        'B = ', cell(2), 'C = ', cell(3), cr, 'ALPHA = ', cell(4), 'BETA = ', cell(5), 'GAMMA = ', cell(6), cr, cr
    cell(4:6) = cell(4:6)*degree
    read (10, *) cond, dmin, dmax, hmax, kmax, lmax, lambda
    if (hmax == 0) hmax = 8
    if (kmax == 0) kmax = 8
    if (lmax == 0) lmax = 8
    write (15, '(RC,1X,A,F6.2,10X,A,F6.2,A1,/,1X,A,I4,10X,A,I4,10X,A,I4,A1,/,1X,A,F8.4,A1,/,A1)') &
        'D MINIMUM =', dmin, 'D MAXIMUM =', dmax, cr, ' HMAX =', hmax, 'KMAX =', kmax, ' LMAX =', lmax, cr, &
        'LAMBDA =', lambda, cr, cr

    call e2e_ref_case(cell, cond, dmin, dmax, hmax, kmax, lmax, lambda, ih, ik, il, d, theta, nplanes)
    write (15, '(1X,A,I4,A1,/,A1)') 'NUMBER OF CALCULATED PLANES =', nplanes, cr, cr
    if (nplanes >= 2) then
      do u = 15, 6, -9
        write (u, '(2(3X,A,3X,A,3X,A,6X,A,6X,A),A1)') ('H', 'K', 'L', 'D', '2 THET :', r = 1, 2), cr
      end do
      rows = (nplanes + 1)/2
      do r = 1, rows
        s = rows + r
        do u = 15, 6, -9
          write (u, '(RC,3I4,F10.5,3X,F6.2,1X,A,3I4,F10.5,3X,F6.2,1X,A,A1)') ih(r), ik(r), il(r), d(r), &
              2.0*theta(r), ':', ih(s), ik(s), il(s), d(s), 2.0*theta(s), ':', cr
        end do
      end do
    end if

    call date_and_time(cdate, ctime)
    do u = 6, 15, 9
      write (u, '(1X,A,A1,/,A,A4,A,A2,A,A2,10X,A,A2,A,A2,A,A2,A,A1)') 'ENDING', cr, ' DATE : ', cdate(1:4), '/', &
          cdate(5:6), '/', cdate(7:8), 'ENDING TIME   :  ', ctime(1:2), 'h', ctime(3:4), 'mn', ctime(5:6), 's', cr
    end do
    read (10, *) next
    if (next == 0) exit
    write (15, '(A,A1)') '1', cr
  end do
end program e2e_ref
