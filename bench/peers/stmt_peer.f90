! Benchmark peer: the same statements done by gfortran's run-time, timed
! inside the program so that process start-up does not count.
!
!   stmt_peer write F|E|G <values.bin> <out.txt> <count>
!       reads <count> 4-byte reals from the binary file, then times one
!       formatted WRITE of all of them with (5F10.5), (5E15.7) or (5G15.7E2)
!   stmt_peer read <in.txt> <count>
!       times one list-directed READ of <count> 4-byte reals
!
! Prints the elapsed seconds of the timed statement (with OPEN and CLOSE).
program stmt_peer
  implicit none
  character(len=512) :: mode, form, a1, a2, a3
  integer :: n, ios
  integer(8) :: t0, t1, rate
  real(4), allocatable :: v(:)

  call get_command_argument(1, mode)
  if (trim(mode) == 'write') then
    call get_command_argument(2, form)
    call get_command_argument(3, a1)
    call get_command_argument(4, a2)
    call get_command_argument(5, a3)
    read (a3, *) n
    allocate (v(n))
    open (11, file=trim(a1), access='stream', form='unformatted', status='old')
    read (11) v
    close (11)
    call system_clock(t0, rate)
    open (12, file=trim(a2), status='replace')
    select case (form(1:1))
    case ('F')
      write (12, '(5F10.5)') v
    case ('E')
      write (12, '(5E15.7)') v
    case default
      write (12, '(5G15.7E2)') v
    end select
    close (12)
    call system_clock(t1)
  else
    call get_command_argument(2, a1)
    call get_command_argument(3, a3)
    read (a3, *) n
    allocate (v(n))
    call system_clock(t0, rate)
    open (12, file=trim(a1), status='old')
    read (12, *, iostat=ios) v
    close (12)
    call system_clock(t1)
    if (ios /= 0) stop 2
  end if
  print '(ES16.8)', real(t1 - t0, 8) / real(rate, 8)
end program stmt_peer
